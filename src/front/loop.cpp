#include "front/loop.h"

#include <unistd.h>

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "bridge/tools.h"
#include "front/catalogue.h"
#include "front/lines.h"
#include "front/memory.h"
#include "front/output.h"
#include "front/protocol.h"
#include "front/reader.h"
#include "front/workers.h"
#include "front/writer.h"

namespace vesk {

namespace {

// What the connector reads of a request, by name: the loop's own members, and those a tool call
// reads of its params (name, arguments, chat, message, last_n). Nothing else of a line is kept.
// The ids are kept as written, to go back unchanged and to be told apart exactly.
constexpr Member requestMembers[] = {
    {"id", true}, {"method"},   {"params"},          {"protocolVersion"},
    {"_meta"},    {versionKey}, {capabilitiesKey},   {clientKey},
    {"name"},     {"version"},  {"requestId", true}, {"arguments"},
    {"chat"},     {"message"},  {"last_n"},
};

json::object capabilities() {
  return {{"tools", {{"listChanged", false}}}};
}

using Entry = void (*)(Document& message, const Id& id, const json::object& params, Era era);

void initialize(Document& /*message*/, const Id& id, const json::object& params, Era era) {
  // The version is not negotiated: whatever string the client proposes is what it gets.
  const json::value* proposed = params.if_contains("protocolVersion");
  bool named = proposed != nullptr && proposed->is_string();
  reply(id,
        {
            {"protocolVersion", named ? std::string_view(proposed->get_string()) : legacyVersion},
            {"capabilities", capabilities()},
            {"serverInfo", {{"name", serverName}, {"version", serverVersion}}},
            {"instructions", instructions},
        },
        era);
}

void ping(Document& /*message*/, const Id& id, const json::object& /*params*/, Era era) {
  // The result is always the empty object, so its text is written rather than serialised.
  reply(id, Serialised{"{}"}, era);
}

void discover(Document& /*message*/, const Id& id, const json::object& /*params*/, Era era) {
  // Never changes, so it is written once; the server's name and version go in every modern
  // result's `_meta`, so not here.
  static const std::string text = compact(json::object{
      {"supportedVersions", {modernVersion}},
      {"capabilities", capabilities()},
      {"instructions", instructions},
      {"ttlMs", cacheMilliseconds},
      {"cacheScope", cacheScope},
  });
  reply(id, Serialised{text}, era);
}

void listTools(Document& /*message*/, const Id& id, const json::object& /*params*/, Era era) {
  list(id, era);
}

void callTool(Document& message, const Id& id, const json::object& params, Era era) {
  handover(std::move(message), id, params, era);
}

// The methods served in each era, compared in this order; any other method is not found.
constexpr std::pair<std::string_view, Entry> legacyEntries[] = {
    {"initialize", initialize},
    {"ping", ping},
    {"tools/list", listTools},
    {"tools/call", callTool},
};
constexpr std::pair<std::string_view, Entry> modernEntries[] = {
    {"server/discover", discover},
    {"tools/list", listTools},
    {"tools/call", callTool},
};

// The `_meta` of a modern request, or null for a legacy one. A request is modern exactly when its
// `_meta` claims a protocol version; other members of `_meta` (a progress token, the client's name)
// make no claim.
const json::object* modernMeta(const json::object& params) {
  const json::value* meta = params.if_contains("_meta");
  const json::object* members = meta != nullptr ? meta->if_object() : nullptr;
  return members != nullptr && members->contains(versionKey) ? members : nullptr;
}

bool isString(const json::object& object, std::string_view key) {
  const json::value* found = object.if_contains(key);
  return found != nullptr && found->is_string();
}

// What is wrong with a modern request's `_meta`, or nothing: the key at fault and what it must be.
std::optional<std::pair<std::string_view, std::string_view>> fault(const json::object& meta) {
  if (!isString(meta, versionKey)) return {{versionKey, "a string"}};
  const json::value* declared = meta.if_contains(capabilitiesKey);
  if (declared == nullptr || !declared->is_object()) return {{capabilitiesKey, "an object"}};
  const json::value* client = meta.if_contains(clientKey);
  if (client == nullptr) return std::nullopt;
  const json::object* info = client->if_object();
  if (info == nullptr || !isString(*info, "name") || !isString(*info, "version"))
    return {{clientKey, "an object with a string name and version"}};
  return std::nullopt;
}

// Answers a request by the first entry for its method, or with "not found".
template <std::size_t count>
void serve(const std::pair<std::string_view, Entry> (&entries)[count], Document& message,
           const Id& id, std::string_view method, const json::object& params, Era era) {
  for (const auto& [served, entry] : entries) {
    if (served == method) return entry(message, id, params, era);
  }
  failure(id, -32601, std::string("Method not found: ").append(method));
}

// A modern request passes its envelope and its version before its method is looked at, so that
// nothing the revision refuses reaches the application.
void serveModern(Document& message, const Id& id, std::string_view method,
                 const json::object& params, const json::object& meta) {
  if (auto wrong = fault(meta)) {
    std::string complaint = "Invalid request _meta: ";
    complaint.append(wrong->first).append(" must be ").append(wrong->second);
    return failure(id, -32602, complaint);
  }
  std::string_view version = stringMember(meta, versionKey);
  if (version != modernVersion) {
    json::object data = {{"supported", {modernVersion}}, {"requested", version}};
    return failure(id, -32022, std::string("Unsupported protocol version: ").append(version), data);
  }
  serve(modernEntries, message, id, method, params, Era::modern);
}

void dispatch(Document& message) {
  const json::object& root = message.root();
  std::string_view method = stringMember(root, "method");
  const json::object& params = objectMember(root, "params");
  std::optional<std::string_view> id = writtenMember(root, "id");
  if (!id) {
    // A notification: nothing to answer. Only a cancellation has an effect, on modern calls.
    std::optional<std::string_view> cancelled = writtenMember(params, "requestId");
    if (method == "notifications/cancelled" && cancelled) cancel(*cancelled);
    return;
  }
  if (const json::object* meta = modernMeta(params))
    return serveModern(message, Id{*id}, method, params, *meta);
  serve(legacyEntries, message, Id{*id}, method, params, Era::legacy);
}

}  // namespace

void handle(std::string_view line) {
  Errand errand;  // the line's work, for what it allocates
  std::optional<Document> message = parseLine(line, requestMembers);
  if (!message) return;  // not one JSON object
  try {
    dispatch(*message);
  } catch (const std::bad_alloc&) {
    // No memory for the answer, or for the hand-over: this request is lost, alone.
  }
}

void loop() {
  Lines input(STDIN_FILENO);
  std::string_view line;
  while (input.next(line)) {
    handle(line);
    replenish();  // after a loss, once the line's memory is back
  }
  // Every call read so far entered `running` before it was handed over, so none is missed here.
  running.wait();
}

}  // namespace vesk
