#include "front/utf8.h"

namespace vesk::utf8 {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence that `s` begins with, or, negated, the length of the
// ill-formed prefix that one U+FFFD replaces (its maximal ill-formed subpart). `s` is not empty.
int measure(std::string_view s) {
  auto first = static_cast<unsigned char>(s[0]);
  if (first < 0x80) return 1;
  // Lead bytes, with the range their first continuation byte must fall in: these ranges exclude
  // overlong forms, surrogates and code points above U+10FFFF.
  int follow = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    follow = 1;
  } else if (first >= 0xE0 && first <= 0xEF) {
    follow = 2;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    follow = 3;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i <= follow; ++i) {
    if (static_cast<std::size_t>(i) >= s.size()) return -i;
    auto next = static_cast<unsigned char>(s[static_cast<std::size_t>(i)]);
    if (next < low || next > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return follow + 1;
}

}  // namespace

bool wellFormed(std::string_view bytes) {
  while (!bytes.empty()) {
    int length = measure(bytes);
    if (length < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(length));
  }
  return true;
}

std::string repaired(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    int length = measure(bytes);
    auto taken = static_cast<std::size_t>(length < 0 ? -length : length);
    text.append(length < 0 ? replacement : bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
  return text;
}

}  // namespace vesk::utf8
