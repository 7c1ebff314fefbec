#include "front/loop.h"

#include <unistd.h>

#include <new>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "bridge/tools.h"
#include "front/catalogue.h"
#include "front/lines.h"
#include "front/output.h"
#include "front/reader.h"
#include "front/workers.h"

namespace vesk {

namespace {

using nlohmann::json;

void initialize(const json& id, const json& params) {
  // The version is not negotiated: whatever string the client proposes is what it gets.
  auto proposed = params.find("protocolVersion");
  bool named = proposed != params.end() && proposed->is_string();
  reply(id, {
                {"protocolVersion", named ? *proposed : json("2025-06-18")},
                {"capabilities", {{"tools", {{"listChanged", false}}}}},
                {"serverInfo", {{"name", "vesk"}, {"version", "1.0"}}},
                {"instructions",
                 "Vesk's connector: list the other chats open in Vesk on this Mac, send one a "
                 "message (its answer comes back here), or read its latest messages."},
            });
}

void ping(const json& id, const json& /*params*/) {
  // The result is always the empty object, so its text is written rather than dumped each time.
  reply(id, Serialised{"{}"});
}

using Entry = void (*)(const json& id, const json& params);

// The methods served, compared in this order; any other method is not found.
constexpr std::pair<std::string_view, Entry> entries[] = {
    {"initialize", initialize},
    {"ping", ping},
    {"tools/list", list},
    {"tools/call", handover},
};

void dispatch(const json& message) {
  auto id = message.find("id");
  if (id == message.end()) return;  // a notification: nothing to answer
  std::string name = stringMember(message, "method");
  const json& params = objectMember(message, "params");
  for (const auto& [served, entry] : entries) {
    if (served == name) return entry(*id, params);
  }
  failure(*id, -32601, "Method not found: " + name);
}

}  // namespace

void handle(std::string_view line) {
  json message = parseLine(line);
  Dismantling unmade(message);
  if (!message.is_object()) return;  // not one JSON object (a discarded value is not an object)
  try {
    dispatch(message);
  } catch (const std::bad_alloc&) {
    // No memory for the answer, or for the hand-over's copies: this request is lost, alone.
  }
}

void loop() {
  Lines input(STDIN_FILENO);
  std::string_view line;
  while (input.next(line)) handle(line);
  // Every call read so far entered `running` before it was handed over, so none is missed here.
  running.wait();
}

}  // namespace vesk
