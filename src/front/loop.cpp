#include "front/loop.h"

#include <unistd.h>

#include <new>
#include <optional>
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

// The keys of a modern request's `_meta`, made strings once: a lookup by a character literal would
// build, and allocate, a string of forty characters each time.
const std::string versionKey = "io.modelcontextprotocol/protocolVersion";
const std::string capabilitiesKey = "io.modelcontextprotocol/clientCapabilities";
const std::string clientKey = "io.modelcontextprotocol/clientInfo";

constexpr const char* instructions =
    "Vesk's connector: list the other chats open in Vesk on this Mac, send one a message (its "
    "answer comes back here), or read its latest messages.";

json capabilities() {
  return {{"tools", {{"listChanged", false}}}};
}

void initialize(const json& id, const json& params, Era era) {
  // The version is not negotiated: whatever string the client proposes is what it gets.
  auto proposed = params.find("protocolVersion");
  bool named = proposed != params.end() && proposed->is_string();
  reply(id,
        {
            {"protocolVersion", named ? *proposed : json("2025-06-18")},
            {"capabilities", capabilities()},
            {"serverInfo", {{"name", serverName}, {"version", serverVersion}}},
            {"instructions", instructions},
        },
        era);
}

void ping(const json& id, const json& /*params*/, Era era) {
  // The result is always the empty object, so its text is written rather than dumped each time.
  reply(id, Serialised{"{}"}, era);
}

void discover(const json& id, const json& /*params*/, Era era) {
  // Never changes, so it is written once; the server's name and version go in every modern
  // result's `_meta`, so not here.
  static const std::string text = [] {
    json result = {
        {"supportedVersions", {modernVersion}},
        {"capabilities", capabilities()},
        {"instructions", instructions},
        {"ttlMs", cacheMilliseconds},
        {"cacheScope", cacheScope},
    };
    return result.dump();
  }();
  reply(id, Serialised{text}, era);
}

using Entry = void (*)(const json& id, const json& params, Era era);

// The methods served in each era, compared in this order; any other method is not found.
constexpr std::pair<std::string_view, Entry> legacyEntries[] = {
    {"initialize", initialize},
    {"ping", ping},
    {"tools/list", list},
    {"tools/call", handover},
};
constexpr std::pair<std::string_view, Entry> modernEntries[] = {
    {"server/discover", discover},
    {"tools/list", list},
    {"tools/call", handover},
};

// The `_meta` of a modern request, or null for a legacy one. A request is modern exactly when its
// `_meta` claims a protocol version; other members of `_meta` (a progress token, the client's name)
// make no claim.
const json* modernMeta(const json& params) {
  auto meta = params.find("_meta");
  bool claims = meta != params.end() && meta->is_object() && meta->contains(versionKey);
  return claims ? &*meta : nullptr;
}

// What is wrong with a modern request's `_meta`, or nothing.
std::optional<std::string> fault(const json& meta) {
  if (!meta.find(versionKey)->is_string()) return versionKey + " must be a string";
  auto declared = meta.find(capabilitiesKey);
  if (declared == meta.end() || !declared->is_object())
    return capabilitiesKey + " must be an object";
  auto client = meta.find(clientKey);
  if (client == meta.end()) return std::nullopt;
  bool named = client->is_object() && client->contains("name") && (*client)["name"].is_string() &&
               client->contains("version") && (*client)["version"].is_string();
  if (!named) return clientKey + " must be an object with a string name and version";
  return std::nullopt;
}

// Answers a request by the first entry for its method, or with "not found".
template <std::size_t count>
void serve(const std::pair<std::string_view, Entry> (&entries)[count], const json& id,
           const std::string& method, const json& params, Era era) {
  for (const auto& [served, entry] : entries) {
    if (served == method) return entry(id, params, era);
  }
  failure(id, -32601, "Method not found: " + method);
}

// A modern request passes its envelope and its version before its method is looked at, so that
// nothing the revision refuses reaches the application.
void serveModern(const json& id, const std::string& method, const json& params, const json& meta) {
  if (std::optional<std::string> wrong = fault(meta))
    return failure(id, -32602, "Invalid request _meta: " + *wrong);
  const auto& version = meta.find(versionKey)->get_ref<const std::string&>();
  if (version != modernVersion) {
    json data = {{"supported", {modernVersion}}, {"requested", version}};
    return failure(id, -32022, "Unsupported protocol version: " + version, data);
  }
  serve(modernEntries, id, method, params, Era::modern);
}

void dispatch(const json& message) {
  std::string method = stringMember(message, "method");
  const json& params = objectMember(message, "params");
  auto id = message.find("id");
  if (id == message.end()) {
    // A notification: nothing to answer. Only a cancellation has an effect, on modern calls.
    auto cancelled = params.find("requestId");
    if (method == "notifications/cancelled" && cancelled != params.end()) cancel(*cancelled);
    return;
  }
  if (const json* meta = modernMeta(params)) return serveModern(*id, method, params, *meta);
  serve(legacyEntries, *id, method, params, Era::legacy);
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
