// The lines a test sends the connector and the answers it expects back, built in one place so that
// every test writes the envelopes the same way. Plain functions of their arguments: any thread.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testing_support {

// The fixed texts of a tool call whose host is away, and of one whose reply is unusable or late.
inline const std::string notOpen =
    "Vesk isn\xE2\x80\x99t open on this Mac, so the other chats can\xE2\x80\x99t be reached.";
inline const std::string noAnswer = "Vesk didn\xE2\x80\x99t answer in time.";

// Stands for a member left out, where null would be a value like any other.
inline const nlohmann::json absent(nlohmann::json::value_t::discarded);

// A request line for `method`, without its LF; with `params` absent, the member is left out.
inline std::string requestLine(const nlohmann::json& id, const std::string& method,
                               const nlohmann::json& params = absent) {
  nlohmann::json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
  if (!params.is_discarded()) request["params"] = params;
  return request.dump();
}

// A "tools/call" line naming `tool`, which may be any JSON value, as a hostile client's may be;
// with `arguments` absent, the member is left out.
inline std::string callLine(const nlohmann::json& id, const nlohmann::json& tool,
                            const nlohmann::json& arguments = absent) {
  nlohmann::json params = {{"name", tool}};
  if (!arguments.is_discarded()) params["arguments"] = arguments;
  return requestLine(id, "tools/call", params);
}

inline std::string pingLine(const nlohmann::json& id) {
  return requestLine(id, "ping");
}

// The answers: a result, an error, ping's empty result, and a tool call's result showing `text`.
inline nlohmann::json response(const nlohmann::json& id, const nlohmann::json& result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
}
inline nlohmann::json errorResponse(const nlohmann::json& id, int code,
                                    const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}
inline nlohmann::json pong(const nlohmann::json& id) {
  return response(id, nlohmann::json::object());
}
inline nlohmann::json toolResult(const nlohmann::json& id, const std::string& text, bool isError) {
  nlohmann::json item = {{"type", "text"}, {"text", text}};
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
inline nlohmann::json echoed(int id) {
  return toolResult(id, std::to_string(id), false);
}

// Every line of the connector's output, parsed; a line that is not JSON throws, failing the test.
inline std::vector<nlohmann::json> parsed(const std::string& out) {
  std::vector<nlohmann::json> answers;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) answers.push_back(nlohmann::json::parse(line));
  return answers;
}

}  // namespace testing_support
