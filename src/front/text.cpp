#include "front/text.h"

#include <algorithm>

namespace vesk {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the well-formed UTF-8 sequence that `s` begins with, or, negated, the length of the
// ill-formed prefix that one U+FFFD replaces. `s` is not empty.
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

// How deeply `text` nests arrays and objects, counting brackets outside strings only. Stops
// counting once the bound is passed, since the text is refused then anyway.
std::size_t depth(std::string_view text) {
  std::size_t level = 0, most = 0;
  bool quoted = false, escaped = false;
  for (char c : text) {
    if (quoted) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[' || c == '{') {
      most = std::max(most, ++level);
      if (most > deepest) break;
    } else if ((c == ']' || c == '}') && level > 0) {
      --level;
    }
  }
  return most;
}

}  // namespace

std::string repair(std::string_view bytes) {
  bool ascii = std::all_of(bytes.begin(), bytes.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return std::string(bytes);
  std::string repaired;
  repaired.reserve(bytes.size());
  while (!bytes.empty()) {
    int length = measure(bytes);
    if (length > 0) {
      repaired.append(bytes.substr(0, static_cast<std::size_t>(length)));
    } else {
      repaired.append(replacement);
      length = -length;
    }
    bytes.remove_prefix(static_cast<std::size_t>(length));
  }
  return repaired;
}

nlohmann::json parse(std::string_view text) {
  // A raw NUL never belongs in a JSON text (inside a string it must be escaped), but the reader
  // takes it for the end of its input and would accept whatever follows it unread.
  bool nul = text.find('\0') != std::string_view::npos;
  if (nul || depth(text) > deepest) return nlohmann::json(nlohmann::json::value_t::discarded);
  // No callback, no exceptions: a failure comes back as a discarded value.
  return nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
}

std::string text(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

const nlohmann::json& nested(const nlohmann::json& object, const char* key) {
  static const nlohmann::json none = nlohmann::json::object();
  auto found = object.find(key);
  return found != object.end() && found->is_object() ? *found : none;
}

}  // namespace vesk
