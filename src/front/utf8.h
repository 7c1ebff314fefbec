// UTF-8 as the reader takes it, for reader.cpp alone: telling well-formed text from ill-formed, and
// a view of bytes that reads each ill-formed subpart as U+FFFD without copying them. Pure; safe
// from any thread.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace vesk::utf8 {

inline constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

// Whether every sequence in `s` is well formed.
bool wellFormed(std::string_view s);

// An iterator over bytes that gives them as repaired: each maximal ill-formed subpart reads as the
// three bytes of U+FFFD. The JSON reader takes a pair of them in place of a repaired copy.
class Repaired {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  Repaired(const char* from, const char* to) : at(from), end(to) { look(); }

  char operator*() const { return bad > 0 ? replacement[phase] : *at; }
  Repaired& operator++();
  Repaired operator++(int) {
    Repaired before = *this;
    ++*this;
    return before;
  }
  bool operator==(const Repaired& other) const { return at == other.at && phase == other.phase; }

 private:
  void look();  // classifies the sequence that begins at `at`

  const char* at;
  const char* end;
  int left = 0;   // bytes of the current well-formed sequence still to give
  int bad = 0;    // length of the ill-formed subpart at `at`; 0 while in well-formed text
  int phase = 0;  // which byte of U+FFFD is given in its place
};

}  // namespace vesk::utf8
