// The lines a test sends the connector and the answers it expects back, built in one place.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace testing_support {

// A "tools/call" request line for `tool` with `arguments`, without its LF.
inline std::string callLine(const nlohmann::json& id, const std::string& tool,
                            const nlohmann::json& arguments = nlohmann::json::object()) {
  nlohmann::json params = {{"name", tool}, {"arguments", arguments}};
  return nlohmann::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", params}}.dump();
}

// A "ping" request line, without its LF, and its answer.
inline std::string pingLine(const nlohmann::json& id) {
  return nlohmann::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "ping"}}.dump();
}
inline nlohmann::json pong(const nlohmann::json& id) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", nlohmann::json::object()}};
}

// The answer to a tool call whose result shows `text`.
inline nlohmann::json toolResult(const nlohmann::json& id, const std::string& text, bool isError) {
  nlohmann::json item = {{"type", "text"}, {"text", text}};
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", {{"content", {item}}, {"isError", isError}}}};
}

}  // namespace testing_support
