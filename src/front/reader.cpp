// The strict reader: nlohmann's parser, fed either the bytes as they are or, when they are not
// UTF-8, a repairing view of them, with a builder of our own in place of nlohmann's.
#include "front/reader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

#include "front/builder.h"
#include "front/memory.h"
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

// Where the next escape of a lone surrogate begins, from `at` on: a high one not followed by the
// escape of a low one, or a low one on its own; null when there is none. Backslashes pair as the
// reader pairs them, so an escaped backslash starts no escape; outside strings no backslash
// belongs, and the text is refused either way.
const char* loneSurrogate(const char* at, const char* end) {
  auto high = [](int unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  auto low = [](int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  while ((at = static_cast<const char*>(
              std::memchr(at, '\\', static_cast<std::size_t>(end - at)))) != nullptr) {
    if (end - at < 2) return nullptr;
    int unit = at[1] == 'u' ? hex4(at + 2, end) : -1;
    if (unit < 0) {
      at += 2;
      continue;
    }
    bool paired =
        high(unit) && end - at >= 12 && at[6] == '\\' && at[7] == 'u' && low(hex4(at + 8, end));
    if (high(unit) && !paired) return at;
    if (low(unit)) return at;
    at += paired ? 12 : 6;
  }
  return nullptr;
}

// `text` with every escape of a lone surrogate rewritten as \ufffd (the same length), which the
// reader would refuse and a Node client writes for a string cut inside an emoji; nothing when
// there is none, so that a long line is still held once.
std::optional<std::string> mended(std::string_view text) {
  const char* end = text.data() + text.size();
  const char* lone = loneSurrogate(text.data(), end);
  if (lone == nullptr) return std::nullopt;
  std::string copy(text);
  while (lone != nullptr) {
    std::copy_n("fffd", 4, copy.begin() + (lone - text.data()) + 2);
    lone = loneSurrogate(lone + 6, end);
  }
  return copy;
}

json discarded() {
  return json(json::value_t::discarded);
}

// Runs nlohmann's JSON parser alone over [begin, end) into `builder`. json::sax_parse() would do
// the same behind a switch over every input format it knows, whose binary readers, when the
// compiler does not fold the switch away, bring in libm: a third of a megabyte more for every
// connector at start.
template <class Iterator>
bool parseInto(reading::Builder& builder, Iterator begin, Iterator end) {
  auto input = nlohmann::detail::input_adapter(std::move(begin), std::move(end));
  return nlohmann::detail::parser<json, decltype(input)>(std::move(input)).sax_parse(&builder);
}

// The one object in `text`, or a discarded value; see parseLine().
json readObject(std::string_view text, bool repairing) {
  // A raw NUL never belongs in a JSON text (inside a string it must be escaped), but the reader
  // takes it for the end of its input and would accept whatever follows it unread.
  if (!shapedLikeAnObject(text) || text.find('\0') != std::string_view::npos) return discarded();
  reading::Builder builder;
  try {
    std::optional<std::string> copy = mended(text);
    if (copy) text = *copy;
    const char* begin = text.data();
    const char* end = begin + text.size();
    bool parsed = false;
    if (utf8::wellFormed(text)) {
      parsed = parseInto(builder, begin, end);
    } else if (repairing) {
      parsed = parseInto(builder, utf8::Repaired(begin, end), utf8::Repaired(end, end));
    }
    if (parsed && builder.root.is_object()) return std::move(builder.root);
  } catch (const std::exception&) {
    // Out of memory (std::bad_alloc): this text is lost, and only this one.
    replenish();
  }
  return discarded();
}

}  // namespace

json parseLine(std::string_view line) {
  return readObject(line, true);
}

json parseReply(std::string_view reply) {
  return readObject(reply, false);
}

std::string repair(std::string_view bytes) {
  if (utf8::wellFormed(bytes)) return std::string(bytes);
  const char* end = bytes.data() + bytes.size();
  return std::string(utf8::Repaired(bytes.data(), end), utf8::Repaired(end, end));
}

std::string stringMember(const json& object, const char* key) {
  auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

const json& objectMember(const json& object, const char* key) {
  static const json none = json::object();
  auto found = object.find(key);
  return found != object.end() && found->is_object() ? *found : none;
}

Dismantling::~Dismantling() {
  reading::dismantle(value);
}

}  // namespace vesk
