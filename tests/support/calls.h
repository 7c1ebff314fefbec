// The lines a test sends the connector and the answers it expects back, built in one place so that
// every test writes the envelopes the same way. Plain functions of their arguments: any thread.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json.hpp>

namespace testing_support {

// The fixed texts of a tool call whose host is away, and of one whose reply is unusable or late.
inline const std::string notOpen =
    "Vesk isn\xE2\x80\x99t open on this Mac, so the other chats can\xE2\x80\x99t be reached.";
inline const std::string noAnswer = "Vesk didn\xE2\x80\x99t answer in time.";

// How the tests read what the connector writes: strict JSON, nested as deep as the connector lets a
// line nest and far deeper, so that an id it writes back is never refused for its depth alone.
inline const boost::json::parse_options parseOptions = [] {
  boost::json::parse_options options;
  options.max_depth = 4096;
  return options;
}();

// One JSON text, such as a line the connector wrote, parsed with parseOptions. Throws when it is
// not JSON, failing the test.
inline boost::json::value parsedLine(std::string_view text) {
  return boost::json::parse(text, {}, parseOptions);
}

// `value` as compact JSON text with every object's members in key order, so that equal values give
// equal texts whatever order their members were added in: a key for sets and maps of answers.
inline std::string canonical(const boost::json::value& value) {
  if (const boost::json::array* items = value.if_array()) {
    std::string text = "[";
    for (const boost::json::value& item : *items) {
      if (text.size() > 1) text += ',';
      text += canonical(item);
    }
    return text + "]";
  }
  const boost::json::object* object = value.if_object();
  if (object == nullptr) return boost::json::serialize(value);
  std::vector<const boost::json::key_value_pair*> members;
  for (const boost::json::key_value_pair& member : *object) members.push_back(&member);
  std::sort(members.begin(), members.end(), [](auto* a, auto* b) { return a->key() < b->key(); });
  std::string text = "{";
  for (const boost::json::key_value_pair* member : members) {
    if (text.size() > 1) text += ',';
    text += boost::json::serialize(member->key()) + ":" + canonical(member->value());
  }
  return text + "}";
}

// A request line for `method`, without its LF; without `params`, the member is left out. Numbers
// with a fraction are better written into a line as text: the serializer writes 2.5 as 2.5E0.
inline std::string requestLine(const boost::json::value& id, const std::string& method) {
  return boost::json::serialize(
      boost::json::object{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}});
}
inline std::string requestLine(const boost::json::value& id, const std::string& method,
                               const boost::json::value& params) {
  return boost::json::serialize(
      boost::json::object{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
}

// A "tools/call" line naming `tool`, which may be any JSON value, as a hostile client's may be;
// without `arguments`, the member is left out.
inline std::string callLine(const boost::json::value& id, const boost::json::value& tool) {
  return requestLine(id, "tools/call", {{"name", tool}});
}
inline std::string callLine(const boost::json::value& id, const boost::json::value& tool,
                            const boost::json::value& arguments) {
  return requestLine(id, "tools/call", {{"name", tool}, {"arguments", arguments}});
}

inline std::string pingLine(const boost::json::value& id) {
  return requestLine(id, "ping");
}

// The answers: a result, an error, ping's empty result, and a tool call's result showing `text`.
inline boost::json::value response(const boost::json::value& id, const boost::json::value& result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
}
inline boost::json::value errorResponse(const boost::json::value& id, int code,
                                        const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}
inline boost::json::value pong(const boost::json::value& id) {
  return response(id, boost::json::object());
}
inline boost::json::value toolResult(const boost::json::value& id, const std::string& text,
                                     bool isError) {
  boost::json::value item = {{"type", "text"}, {"text", text}};
  return response(id, {{"content", {item}}, {"isError", isError}});
}

// `count` calls from id `first` on, each line with its LF, each reading the chat its id names: a
// host that answers with chatEcho shows the call's own id. echoed() is the answer to one of them.
inline std::string echoCalls(int first, int count) {
  std::string text;
  for (int id = first; id < first + count; ++id) {
    text += callLine(id, "vesk_read_chat", {{"chat", std::to_string(id)}}) + "\n";
  }
  return text;
}
inline boost::json::value echoed(int id) {
  return toolResult(id, std::to_string(id), false);
}

// `piece` `times` over, for lines and replies of many megabytes.
inline std::string repeated(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Every line of the connector's output, parsed; a line that is not JSON throws, failing the test.
inline std::vector<boost::json::value> parsed(const std::string& out) {
  std::vector<boost::json::value> answers;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) answers.push_back(parsedLine(line));
  return answers;
}

}  // namespace testing_support
