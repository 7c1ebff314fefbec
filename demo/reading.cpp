#include "reading.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace json = boost::json;

namespace demo {

namespace {

// The deepest nesting of arrays and objects read. The parser recurses once a level, so a hostile
// line must not nest deep enough to exhaust the smallest thread stack the host runs on (a
// secondary thread's on macOS); no request or chat file nests anywhere near it.
constexpr std::size_t deepest = 512;

// True when a number in `text`, which is valid JSON, lies beyond a double's range (1e400): the
// parser would take it as infinity, which no JSON text can hold, so the text is not read at all.
bool overflows(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {  // past the string, so that digits inside it are not taken for a number
      while (++i < text.size() && text[i] != '"') {
        if (text[i] == '\\') ++i;
      }
      continue;
    }
    if (text[i] != '-' && (text[i] < '0' || text[i] > '9')) continue;
    std::size_t end = std::min(text.find_first_not_of("0123456789+-.eE", i), text.size());
    // strtod rounds as the text says, where the parser's own conversion may round up to infinity.
    std::string number(text.substr(i, end - i));
    if (std::isinf(std::strtod(number.c_str(), nullptr))) return true;
    i = end - 1;
  }
  return false;
}

}  // namespace

json::value parsed(std::string_view text, json::storage_ptr storage) {
  // A byte order mark, as some editors put at the start of a file they save.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  json::parse_options options;
  options.max_depth = deepest;
  json::error_code failed;
  json::value value = json::parse(text, failed, storage, options);
  if (failed || overflows(text)) return json::value(storage);
  return value;
}

}  // namespace demo
