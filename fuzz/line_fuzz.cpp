// One line of the client's input through the request loop's whole handling, up to the lines it
// writes. Tool calls go to a socket path where nobody listens, so each finishes at once with the
// not-open reply; the input ends only once every call it started has answered. Boost.JSON's own
// parse is the reference for which lines are requests, and the line's own text for their ids.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture.h"
#include "front/json.h"
#include "front/loop.h"
#include "front/reader.h"
#include "front/startup.h"
#include "front/utf8.h"
#include "front/workers.h"
#include "reference.h"

namespace {

namespace json = vesk::json;

constexpr std::string_view versionKey = "io.modelcontextprotocol/protocolVersion";

const std::string notOpen =
    "Vesk isn\xE2\x80\x99t open on this Mac, so the other chats can\xE2\x80\x99t be reached.";

// The lines of `out`; each must be ended by an LF.
std::vector<std::string> lines(const std::string& out) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) fuzzing::fail("output ends without LF", out);
    result.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

// --- the text of a JSON value as it was written ---------------------------------------------

void appendUtf8(std::string& to, unsigned code) {
  if (code < 0x80) {
    to += static_cast<char>(code);
  } else if (code < 0x800) {
    to += static_cast<char>(0xC0 | code >> 6);
    to += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    to += static_cast<char>(0xE0 | code >> 12);
    to += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    to += static_cast<char>(0xF0 | code >> 18);
    to += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    to += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    to += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The four hex digits at `at` of `raw`, or -1.
int hex4(std::string_view raw, std::size_t at) {
  unsigned value = 0;
  const char* digits = raw.data() + at;
  bool whole =
      at + 4 <= raw.size() && std::from_chars(digits, digits + 4, value, 16).ptr == digits + 4;
  return whole ? static_cast<int>(value) : -1;
}

// What the string written `raw` (quotes included, in a text the reader took) says, with the escape
// of a lone surrogate read as U+FFFD, as the reader reads it.
std::string decoded(std::string_view raw) {
  std::string text;
  for (std::size_t at = 1; at + 1 < raw.size();) {
    if (raw[at] != '\\') {
      text += raw[at++];
      continue;
    }
    char escape = raw[at + 1];
    at += 2;
    if (escape != 'u') {
      std::string_view from = "bfnrt", to = "\b\f\n\r\t";
      std::size_t which = from.find(escape);
      text += which == std::string_view::npos ? escape : to[which];
      continue;
    }
    auto unit = static_cast<unsigned>(hex4(raw, at));
    at += 4;
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    int next = raw.substr(at, 2) == "\\u" ? hex4(raw, at + 2) : -1;
    if (high && next >= 0xDC00 && next <= 0xDFFF) {
      appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (static_cast<unsigned>(next) - 0xDC00));
      at += 6;
    } else {
      appendUtf8(text, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
  }
  return text;
}

// Reads the members of the top-level object of a JSON text, by their written text, without
// judging the rest: keys and values as they stand in the text.
class Scanner {
 public:
  explicit Scanner(std::string_view all) : text(all) {}

  // The top-level members, each key's text and its value's; nothing when the text is not one
  // object at the top level.
  std::optional<std::vector<std::pair<std::string_view, std::string_view>>> members() {
    std::vector<std::pair<std::string_view, std::string_view>> found;
    blank();
    if (peek() != '{') return std::nullopt;
    ++at;
    blank();
    if (peek() == '}') return found;
    for (;;) {
      blank();
      if (peek() != '"') return std::nullopt;
      std::string_view key = string();
      blank();
      if (peek() != ':') return std::nullopt;
      ++at;
      blank();
      std::string_view item = value();
      if (item.empty()) return std::nullopt;
      found.emplace_back(key, item);
      blank();
      if (peek() == ',') {
        ++at;
        continue;
      }
      if (peek() != '}') return std::nullopt;
      return found;
    }
  }

 private:
  char peek() const { return at < text.size() ? text[at] : '\0'; }
  static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  void blank() {
    while (at < text.size() && isBlank(text[at])) ++at;
  }
  std::string_view string() {
    std::size_t start = at++;
    while (at < text.size() && text[at] != '"') at += text[at] == '\\' ? 2 : 1;
    at = std::min(at + 1, text.size());
    return text.substr(start, at - start);
  }
  // One value: a string, a container up to its matching end, or a scalar up to what ends it.
  std::string_view value() {
    std::size_t start = at, depth = 0;
    while (at < text.size()) {
      char c = text[at];
      if (c == '"') {
        string();
        if (depth == 0) break;
        continue;
      }
      if (depth == 0 && (c == ',' || c == '}' || c == ']' || isBlank(c))) break;
      ++at;
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) break;
    }
    return text.substr(start, at - start);
  }

  std::string_view text;
  std::size_t at = 0;
};

// The value of the top-level member `key` of a text the reader took, as written (the last one,
// when it is repeated); nothing when there is none.
std::optional<std::string_view> writtenMember(std::string_view text, std::string_view key) {
  auto members = Scanner(text).members();
  if (!members) fuzzing::fail("a line taken for a request is no object", text);
  std::optional<std::string_view> found;
  for (const auto& [name, value] : *members) {
    if (decoded(name) == key) found = value;
  }
  return found;
}

// The compact form of the JSON text `written`, as the connector writes an id back: no whitespace
// between tokens, each string written anew from what it says, and everything else (numbers above
// all) exactly as written.
std::string compact(std::string_view written) {
  std::string text;
  for (std::size_t at = 0; at < written.size();) {
    char c = written[at];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++at;
    } else if (c == '"') {
      std::size_t end = at + 1;
      while (end < written.size() && written[end] != '"') end += written[end] == '\\' ? 2 : 1;
      text += json::serialize(decoded(written.substr(at, end + 1 - at)));
      at = end + 1;
    } else {
      text += c;
      ++at;
    }
  }
  return text;
}

// --- the request and its answer -------------------------------------------------------------

struct Request {
  std::string text;     // the line as the reader reads it: no byte order mark, UTF-8 mended
  json::object object;  // what the checks read of it
};

// What the connector must take `line` for: the object it holds, read by Boost.JSON with the
// reader's nesting bound, once the byte order mark and broken UTF-8 are dealt with as the reader
// deals with them; nothing, for a line that is not one object. A line only the reader's own
// mending makes readable (a lone surrogate escape, an exponent too long for the parser) is read by
// the reader itself, which then decides.
std::optional<Request> request(std::string_view line) {
  std::string_view text = line;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  Request read{vesk::utf8::wellFormed(text) ? std::string(text) : vesk::utf8::repaired(text), {}};
  json::error_code ec;
  json::value parsed = fuzzing::reference(read.text, ec);
  if (!ec) {
    if (!parsed.is_object()) return std::nullopt;
    read.object = std::move(parsed.get_object());
    return read;
  }
  if (!fuzzing::mendable(read.text)) return std::nullopt;
  static constexpr vesk::Member checked[] = {{"id", true}, {"method"}, {"params"},
                                             {"name"},     {"_meta"},  {versionKey}};
  std::optional<vesk::Document> mended = vesk::parseLine(line, checked);
  if (!mended) return std::nullopt;
  read.object = json::object(mended->root(), json::storage_ptr());
  return read;
}

const json::value* member(const json::object& object, std::string_view key) {
  return object.if_contains(key);
}

bool isText(const json::value* value, std::string_view text) {
  return value != nullptr && value->is_string() && value->get_string() == text;
}

bool isTool(const json::value* name) {
  return isText(name, "vesk_list_chats") || isText(name, "vesk_send_to_chat") ||
         isText(name, "vesk_read_chat");
}

const json::object& params(const json::object& request) {
  static const json::object none;
  const json::value* found = member(request, "params");
  return found != nullptr && found->is_object() ? found->get_object() : none;
}

// Whether `request` claims the modern era, as the connector decides it.
bool isModern(const json::object& request) {
  const json::value* meta = member(params(request), "_meta");
  return meta != nullptr && meta->is_object() && meta->get_object().contains(versionKey);
}

std::int64_t codeOf(const json::object& answer) {
  const json::value* error = member(answer, "error");
  const json::value* code =
      error != nullptr && error->is_object() ? member(error->get_object(), "code") : nullptr;
  return code != nullptr && code->is_int64() ? code->get_int64() : 0;
}

// What a tool call must come back with: the not-open tool result, shaped for its era; or an error:
// an unknown tool or a modern envelope the connector refuses (-32602), an unsupported version
// (-32022), or, for a modern request, nothing else.
void checkCall(const json::object& request, const json::object& answer, const std::string& line) {
  const json::value* name = member(params(request), "name");
  bool modern = isModern(request);
  if (answer.contains("error")) {
    // A legacy call is refused only for its name; a modern one also for its envelope or version.
    std::int64_t code = codeOf(answer);
    bool allowed = code == -32022 ? modern : code == -32602 && (modern || !isTool(name));
    if (!allowed) fuzzing::fail("tool call with an error it should not get", line);
    return;
  }
  json::object expected = {
      {"content", json::array{json::object{{"type", "text"}, {"text", notOpen}}}},
      {"isError", true},
  };
  if (modern) {
    expected["resultType"] = "complete";
    expected["_meta"] = json::object{
        {"io.modelcontextprotocol/serverInfo", json::object{{"name", "vesk"}, {"version", "1.0"}}}};
  }
  const json::value* result = member(answer, "result");
  if (!isTool(name) || result == nullptr || !result->is_object() ||
      result->get_object() != expected)
    fuzzing::fail("tool call without the not-open result", line);
}

// One response envelope: exactly jsonrpc, the request's id as it was written, in compact form,
// and a result object or an error object of exactly code and message, and data for an
// unsupported version alone. The answer is read with its id left out, since an id may hold a
// number that Boost.JSON cannot read (1e9999999999).
json::object checkEnvelope(const Request& request, const std::string& line) {
  std::optional<std::string_view> written = writtenMember(request.text, "id");
  if (!written) fuzzing::fail("a request with an id has none", request.text);
  auto members = Scanner(line).members();
  if (!members || members->size() != 3) fuzzing::fail("not a JSON-RPC response", line);
  std::optional<std::string_view> id;
  for (const auto& [name, value] : *members) {
    if (decoded(name) == "id") id = value;
  }
  if (!id || *id != compact(*written))
    fuzzing::fail("answer does not carry the request's id", line);
  std::string rest(line);
  rest.replace(static_cast<std::size_t>(id->data() - line.data()), id->size(), "null");
  json::error_code ec;
  json::value parsed = json::parse(rest, ec);
  const json::object* answer = parsed.if_object();
  const json::value* jsonrpc = answer != nullptr ? member(*answer, "jsonrpc") : nullptr;
  if (ec || answer == nullptr || answer->size() != 3 || !isText(jsonrpc, "2.0"))
    fuzzing::fail("not a JSON-RPC response", line);
  if (const json::value* result = member(*answer, "result")) {
    if (!result->is_object()) fuzzing::fail("result is not an object", line);
    return *answer;
  }
  const json::value* error = member(*answer, "error");
  const json::object* fields = error != nullptr ? error->if_object() : nullptr;
  bool versioned = codeOf(*answer) == -32022;
  bool shaped = fields != nullptr && fields->size() == (versioned ? 3u : 2u) &&
                member(*fields, "code") != nullptr && member(*fields, "code")->is_int64() &&
                member(*fields, "message") != nullptr && member(*fields, "message")->is_string();
  if (!shaped) fuzzing::fail("malformed error response", line);
  return *answer;
}

void check(std::string_view line, const fuzzing::Written& written) {
  if (!written.err.empty()) fuzzing::fail("wrote to standard error", written.err);
  std::optional<Request> read = request(line);
  bool answerable = read && read->object.contains("id");
  std::vector<std::string> out = lines(written.out);
  if (out.size() != (answerable ? 1u : 0u)) fuzzing::fail("wrong number of answers", written.out);
  if (!answerable) return;
  json::object answer = checkEnvelope(*read, out[0]);
  const json::value* method = member(read->object, "method");
  if (isText(method, "tools/call")) checkCall(read->object, answer, out[0]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Started as a host would start the connector, with a socket where nobody listens.
  ::setenv("VESK_BRIDGE_SOCKET", "/nonexistent/vesk-fuzz/bridge.sock", 1);
  char program[] = "vesk-connector", flag[] = "--chat", chat[] = "fuzz";
  char* arguments[] = {program, flag, chat, nullptr};
  vesk::startup(3, arguments);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  fuzzing::divert();
  vesk::handle(line);
  // Every tool call of this input has answered once this returns, and its worker has freed all
  // the call held, so libFuzzer's count of this input's allocations and frees is complete. The
  // worker itself stays for the next input's calls.
  vesk::running.wait();
  fuzzing::Written written = fuzzing::restore();
  check(line, written);
  return 0;
}
