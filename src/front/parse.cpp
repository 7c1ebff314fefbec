// The strict reader behind parse(): nlohmann's parser, fed either the bytes in place or, when they
// are not UTF-8, a repairing view of them, with a builder of our own in place of nlohmann's.
#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "front/text.h"
#include "front/utf8.h"

namespace vesk {

namespace {

using nlohmann::json;

bool isWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether `text` could be one JSON object at all: '{' first (after whitespace, or the byte order
// mark the reader skips) and '}' last. Garbage, and a host's reply cut off at the cap, are then
// refused without the reader's buffers, which would cost twice their size again.
bool shapedLikeAnObject(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && isWhitespace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isWhitespace(text.back())) text.remove_suffix(1);
  return text.size() >= 2 && text.front() == '{' && text.back() == '}';
}

// The value of four hex digits at `at`, or -1 when they are not four hex digits.
int hex4(const char* at, const char* end) {
  if (end - at < 4) return -1;
  int value = 0;
  for (int i = 0; i < 4; ++i) {
    char c = at[i];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// Rewrites each escape of a lone surrogate as \ufffd, in place (the same length): a high one not
// followed by the escape of a low one, or a low one on its own. Backslashes pair as the reader
// pairs them, so an escaped backslash starts no escape; outside strings no backslash belongs, and
// the text is refused either way.
void mendSurrogates(char* at, char* end) {
  auto high = [](int unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto low = [](int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  while ((at = static_cast<char*>(std::memchr(at, '\\', static_cast<std::size_t>(end - at)))) !=
         nullptr) {
    if (end - at < 2) return;
    int unit = at[1] == 'u' ? hex4(at + 2, end) : -1;
    if (unit < 0) {
      at += 2;
      continue;
    }
    bool paired =
        high(unit) && end - at >= 12 && at[6] == '\\' && at[7] == 'u' && low(hex4(at + 8, end));
    if (paired) {
      at += 12;
      continue;
    }
    if (high(unit) || low(unit)) std::copy_n("fffd", 4, at + 2);
    at += 6;
  }
}

// Builds the value from the parser's events, as nlohmann's own builder does, except that it moves
// each string in rather than copying it (a long string is then held once more, not twice), stops
// at nesting deeper than `deepest`, and reads numbers as written (exactly()). What is left of the
// value at its end is dismantled, so nlohmann's destructor, which may allocate, frees only an
// empty value (hence the NOLINT).
class Builder {
 public:
  json root;

  Builder() = default;  // NOLINT(bugprone-exception-escape)
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;
  ~Builder() { dismantle(root); }  // NOLINT(bugprone-exception-escape)

  bool null() { return place(nullptr); }
  bool boolean(bool value) { return place(value); }
  bool number_integer(json::number_integer_t value) { return place(value); }
  bool number_unsigned(json::number_unsigned_t value) { return place(value); }
  bool number_float(json::number_float_t value, const json::string_t& written) {
    std::optional<std::int64_t> whole = verbatim ? std::nullopt : exactly(written);
    return whole ? place(*whole) : place(value);
  }
  bool string(json::string_t& value) { return place(std::move(value)); }
  bool binary(json::binary_t& /*value*/) { return false; }  // JSON text has none
  bool start_object(std::size_t /*elements*/) { return open(json::value_t::object); }
  bool start_array(std::size_t /*elements*/) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(json::string_t& name) {
    if (levels.size() == 1) verbatim = name == "id";
    member = &levels.back()->get_ref<json::object_t&>()[std::move(name)];
    return true;
  }
  bool parse_error(std::size_t /*at*/, const std::string& /*token*/,
                   const nlohmann::detail::exception& /*e*/) {
    return false;
  }

 private:
  template <class Value>
  json* slot(Value&& value) {
    if (levels.empty()) {
      root = json(std::forward<Value>(value));
      return &root;
    }
    json& container = *levels.back();
    if (container.is_array()) {
      auto& items = container.get_ref<json::array_t&>();
      items.emplace_back(std::forward<Value>(value));
      return &items.back();
    }
    *member = json(std::forward<Value>(value));
    return member;
  }
  template <class Value>
  bool place(Value&& value) {
    slot(std::forward<Value>(value));
    return true;
  }
  bool open(json::value_t type) {
    if (levels.size() >= deepest) return false;
    levels.push_back(slot(type));
    return true;
  }
  bool close() {
    levels.pop_back();
    return true;
  }

  std::vector<json*> levels;  // the open arrays and objects, outermost first
  json* member = nullptr;     // where the value after the last key goes
  bool verbatim = false;      // inside the top-level `id`
};

json discarded() {
  return json(json::value_t::discarded);
}

}  // namespace

json parse(std::span<char> text, Utf8 broken) {
  std::string_view view(text.data(), text.size());
  // A raw NUL never belongs in a JSON text (inside a string it must be escaped), but the reader
  // takes it for the end of its input and would accept whatever follows it unread.
  if (!shapedLikeAnObject(view) || view.find('\0') != std::string_view::npos) return discarded();
  char* end = text.data() + text.size();
  mendSurrogates(text.data(), end);
  bool wellFormed = utf8::wellFormed(view);
  if (!wellFormed && broken == Utf8::refused) return discarded();
  Builder builder;
  try {
    bool parsed = wellFormed ? json::sax_parse(text.data(), end, &builder)
                             : json::sax_parse(utf8::Repaired(text.data(), end),
                                               utf8::Repaired(end, end), &builder);
    if (parsed && builder.root.is_object()) return std::move(builder.root);
  } catch (const std::exception&) {
    // Out of memory (std::bad_alloc): this text is lost, and only this one.
  }
  return discarded();
}

}  // namespace vesk
