#include "front/writer.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace vesk {

namespace {

// The letter that follows the backslash in each byte's escape: 'u' for \u00XX, 0 for none.
constexpr std::array<char, 256> escapes = [] {
  std::array<char, 256> letters{};
  for (int c = 0; c < 0x20; ++c) letters[c] = 'u';
  letters['"'] = '"';
  letters['\\'] = '\\';
  letters['\n'] = 'n';
  letters['\r'] = 'r';
  letters['\t'] = 't';
  letters['\b'] = 'b';
  letters['\f'] = 'f';
  return letters;
}();

// Whether any of the eight bytes of `word` needs an escape: a control below 0x20, '"' or '\\'.
// Text is passed over a word at a time where none does, which is nearly all of it.
constexpr bool escaped(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101, high = 0x8080808080808080;
  auto below = [](std::uint64_t x, std::uint64_t n) { return (x - ones * n) & ~x & high; };
  return (below(word, 0x20) | below(word ^ (ones * '"'), 1) | below(word ^ (ones * '\\'), 1)) != 0;
}

template <class Number>
void number(std::string& out, Number value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void append(std::string& out, const json::value& value);

void append(std::string& out, const json::object& object) {
  char separator = '{';
  for (const json::key_value_pair& member : object) {
    out += std::exchange(separator, ',');
    quote(out, member.key());
    out += ':';
    append(out, member.value());
  }
  out += separator == '{' ? "{}" : "}";
}

void append(std::string& out, const json::value& value) {
  switch (value.kind()) {
    case json::kind::object:
      append(out, value.get_object());
      break;
    case json::kind::array: {
      char separator = '[';
      for (const json::value& item : value.get_array()) {
        out += std::exchange(separator, ',');
        append(out, item);
      }
      out += separator == '[' ? "[]" : "]";
      break;
    }
    case json::kind::string:
      quote(out, value.get_string());
      break;
    case json::kind::int64:
      number(out, value.get_int64());
      break;
    case json::kind::uint64:
      number(out, value.get_uint64());
      break;
    case json::kind::bool_:
      out += value.get_bool() ? "true" : "false";
      break;
    case json::kind::null:
      out += "null";
      break;
    case json::kind::double_:
      out += json::serialize(value);
      break;
  }
}

}  // namespace

void quote(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  const char* plain = text.data();
  const char* end = plain + text.size();
  for (const char* at = plain; at < end;) {
    std::uint64_t word = 0;
    if (end - at >= 8 && (std::memcpy(&word, at, 8), !escaped(word))) {
      at += 8;
      continue;
    }
    auto c = static_cast<unsigned char>(*at++);
    char letter = escapes[c];
    if (letter == 0) continue;
    out.append(plain, at - 1);
    plain = at;
    const char code[] = {'\\', letter, '0', '0', hex[c >> 4], hex[c & 0xF]};
    out.append(code, letter == 'u' ? 6 : 2);
  }
  out.append(plain, end);
  out += '"';
}

std::string compact(const json::object& object) {
  std::string text;
  append(text, object);
  return text;
}

}  // namespace vesk
