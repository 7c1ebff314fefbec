// The strict reader: Boost.JSON's parser, reporting to a keeper of our own, over the text as it
// came; and, only when the parser refuses it, over a copy with its broken UTF-8 and its lone
// surrogates mended.
#include "front/reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include <boost/json/basic_parser_impl.hpp>

#include "front/memory.h"
#include "front/utf8.h"

namespace vesk {

namespace {

// The value of four hex digits at `at`, or -1 when they are not four hex digits.
int hex4(const char* at, const char* end) {
  unsigned value = 0;
  if (end - at < 4 || std::from_chars(at, at + 4, value, 16).ptr != at + 4) return -1;
  return static_cast<int>(value);
}

// Where the next escape of a lone surrogate begins, from `at` on: a high one not followed by the
// escape of a low one, or a low one on its own; null when there is none. Backslashes pair as the
// parser pairs them, so an escaped backslash starts no escape; outside strings no backslash
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
    if ((high(unit) && !paired) || low(unit)) return at;
    at += paired ? 12 : 6;
  }
  return nullptr;
}

// Where the digits of the next exponent too large for the parser begin in `text`, from `from` on,
// and how many there are: an exponent of ten significant digits or more, which the parser refuses
// although the number is valid JSON (it lies as far beyond binary64 as 1e400 does); npos when
// there is none. Strings are passed over whole, so that their text is never taken for a number.
std::size_t longExponent(std::string_view text, std::size_t from, std::size_t& digits) {
  bool quoted = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '\\') ++i;
      quoted = c != '"';
      continue;
    }
    quoted = c == '"';
    if (c != 'e' && c != 'E') continue;
    std::size_t first = i + 1;
    if (first < text.size() && (text[first] == '-' || text[first] == '+')) ++first;
    std::size_t zeros = first, last = first;
    while (zeros < text.size() && text[zeros] == '0') ++zeros;
    while (last < text.size() && text[last] >= '0' && text[last] <= '9') ++last;
    digits = last - first;
    if (last - zeros > 9) return first;  // the parser takes exponents below 2^31
  }
  return std::string_view::npos;
}

// A refused text made one the parser may take, the same text in all that is read of it: its
// ill-formed UTF-8 read as U+FFFD (when repairing); every escape of a lone surrogate rewritten as
// \ufffd, which a Node client writes for a string cut inside an emoji; and every exponent too large
// for the parser written as 999999999 with as many leading zeros, whose number is as far beyond
// binary64, and as far from a whole one, as the one written. What each rewritten exponent was is
// kept, so that an id is still written back as it came.
struct Mended {
  std::string text;
  std::vector<reading::Rewritten> exponents;
};

std::optional<Mended> mended(std::string_view text, bool repairing) {
  bool broken = !utf8::wellFormed(text);
  if (broken && !repairing) return std::nullopt;
  std::size_t digits = 0;
  bool lone = loneSurrogate(text.data(), text.data() + text.size()) != nullptr;
  bool huge = longExponent(text, 0, digits) != std::string_view::npos;
  if (!broken && !lone && !huge) return std::nullopt;
  Mended copy{broken ? utf8::repaired(text) : std::string(text), {}};
  std::string& mending = copy.text;
  const char* start = mending.data();
  const char* end = start + mending.size();
  for (const char* at = loneSurrogate(start, end); at != nullptr; at = loneSurrogate(at + 6, end))
    std::copy_n("fffd", 4, mending.begin() + (at - start) + 2);
  for (std::size_t at = longExponent(mending, 0, digits); at != std::string_view::npos;
       at = longExponent(mending, at + digits, digits)) {
    copy.exponents.push_back({at, mending.substr(at, digits)});
    std::fill_n(mending.begin() + static_cast<std::ptrdiff_t>(at), digits - 9, '0');
    std::fill_n(mending.begin() + static_cast<std::ptrdiff_t>(at + digits - 9), 9, '9');
  }
  return copy;
}

// Whether `text` is one JSON object; builds what `wanted` names of it into `document`.
bool parsedInto(Document& document, std::string_view text, Members wanted,
                std::span<const reading::Rewritten> rewritten = {}) {
  json::parse_options options;
  options.max_depth = reading::deepest;
  json::basic_parser<reading::Keeper> parser(options, document.root(), wanted, text.data(),
                                             rewritten);
  json::error_code ec;
  std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  return !ec && used == text.size();  // anything after the object is refused
}

std::optional<Document> readObject(std::string_view text, Members wanted, bool repairing) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a byte order mark
  try {
    Document document;
    if (parsedInto(document, text, wanted)) return document;
    // A text the parser took whole is read once; only a refused one is looked at again.
    std::optional<Mended> copy = mended(text, repairing);
    if (!copy) return std::nullopt;
    Document again;
    if (parsedInto(again, copy->text, wanted, copy->exponents)) return again;
  } catch (const std::exception&) {
    // Out of memory (std::bad_alloc): this text is lost, and only this one.
    replenish();
  }
  return std::nullopt;
}

}  // namespace

std::optional<Document> parseLine(std::string_view line, Members wanted) {
  return readObject(line, wanted, true);
}

std::optional<Document> parseReply(std::string_view reply, Members wanted) {
  return readObject(reply, wanted, false);
}

std::string_view stringMember(const json::object& object, std::string_view key) {
  const json::value* found = object.if_contains(key);
  return found != nullptr && found->is_string() ? std::string_view(found->get_string())
                                                : std::string_view();
}

const json::object& objectMember(const json::object& object, std::string_view key) {
  static const json::object none;
  const json::value* found = object.if_contains(key);
  return found != nullptr && found->is_object() ? found->get_object() : none;
}

std::optional<std::string_view> writtenMember(const json::object& object, std::string_view key) {
  const json::value* found = object.if_contains(key);
  if (found == nullptr || !found->is_string()) return std::nullopt;
  return std::string_view(found->get_string());
}

}  // namespace vesk
