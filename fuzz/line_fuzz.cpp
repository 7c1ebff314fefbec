// One line of the client's input through the request loop's whole handling, up to the lines it
// writes. Tool calls go to a socket path where nobody listens, so each finishes at once with the
// not-open reply; the input ends only once every call it started has answered.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "front/loop.h"
#include "front/reader.h"
#include "front/startup.h"
#include "front/workers.h"

namespace {

using nlohmann::json;

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

bool isTool(const json& name) {
  return name == "vesk_list_chats" || name == "vesk_send_to_chat" || name == "vesk_read_chat";
}

// Whether `request` claims the modern era, as the connector decides it.
bool isModern(const json& request) {
  auto params = request.find("params");
  if (params == request.end() || !params->is_object()) return false;
  auto meta = params->find("_meta");
  return meta != params->end() && meta->is_object() &&
         meta->contains("io.modelcontextprotocol/protocolVersion");
}

// What a tool call must come back with: the not-open tool result, shaped for its era; or an error:
// an unknown tool or a modern envelope the connector refuses (-32602), an unsupported version
// (-32022), or, for a modern request, nothing else.
void checkCall(const json& request, const json& answer) {
  auto params = request.find("params");
  json name =
      params != request.end() && params->is_object() ? params->value("name", json()) : json();
  bool modern = isModern(request);
  if (answer.contains("error")) {
    // A legacy call is refused only for its name; a modern one also for its envelope or version.
    int code = answer["error"].value("code", 0);
    bool allowed = code == -32022 ? modern : code == -32602 && (modern || !isTool(name));
    if (!allowed) fuzzing::fail("tool call with an error it should not get", answer.dump());
    return;
  }
  json expected = {{"content", {{{"type", "text"}, {"text", notOpen}}}}, {"isError", true}};
  if (modern) {
    expected["resultType"] = "complete";
    expected["_meta"] = {
        {"io.modelcontextprotocol/serverInfo", {{"name", "vesk"}, {"version", "1.0"}}}};
  }
  if (!isTool(name) || answer.value("result", json()) != expected)
    fuzzing::fail("tool call without the not-open result", answer.dump());
}

// One response envelope: exactly jsonrpc, the request's id as written, and a result object or an
// error object of exactly code and message, and data for an unsupported version alone.
void checkEnvelope(const json& request, const json& answer) {
  if (!answer.is_object() || answer.size() != 3 || answer.value("jsonrpc", "") != "2.0") {
    fuzzing::fail("not a JSON-RPC response", answer.dump());
  }
  // Compared with the id as the writer writes it, since ids beyond what a double holds change form.
  if (!answer.contains("id") || answer["id"] != json::parse(request["id"].dump())) {
    fuzzing::fail("answer does not carry the request's id", answer.dump());
  }
  if (answer.contains("result")) {
    if (!answer["result"].is_object()) fuzzing::fail("result is not an object", answer.dump());
    return;
  }
  const json& error = answer.value("error", json());
  bool versioned = error.is_object() && error.value("code", 0) == -32022;
  bool shaped = error.is_object() && error.size() == (versioned ? 3u : 2u) &&
                error.value("code", json()).is_number_integer() &&
                error.value("message", json()).is_string();
  if (!shaped) fuzzing::fail("malformed error response", answer.dump());
}

void check(std::string line, const fuzzing::Written& written) {
  if (!written.err.empty()) fuzzing::fail("wrote to standard error", written.err);
  json request = vesk::parseLine(line);
  bool answerable = request.is_object() && request.contains("id");
  std::vector<std::string> out = lines(written.out);
  if (out.size() != (answerable ? 1u : 0u)) fuzzing::fail("wrong number of answers", written.out);
  if (!answerable) return;
  json answer = json::parse(out[0], nullptr, false);
  checkEnvelope(request, answer);
  if (request.value("method", json()) == "tools/call") checkCall(request, answer);
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
