// Tool calls: the "tools/call" entry, which hands each call to a worker thread, and call(), which
// turns one call into a bridge exchange and answers it. Safe from any thread after start-up.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "front/output.h"

namespace vesk {

// The "tools/call" entry, on the main thread: hands copies of `id` and `params` to `calls`, counted
// in `running`, and returns at once, without waiting for the host. The answer is shaped for `era`;
// a modern call can be cancelled until it is answered.
void handover(const nlohmann::json& id, const nlohmann::json& params, Era era);

// A client's "notifications/cancelled" for `requestId`: a modern call in flight with that id will
// not be answered, although its exchange with the host runs to its end. Anything else (a legacy
// call, an id not in flight, one already answered) changes nothing.
void cancel(const nlohmann::json& requestId);

// Carries out one call and writes exactly one response for it, shaped for `era`: an error for a
// name that is no tool, otherwise the tool result made of the host's reply; nothing once
// `cancelled` (null for a call that cannot be cancelled) has been set.
void call(const nlohmann::json& id, const nlohmann::json& params, Era era,
          const std::atomic<bool>* cancelled);

// The bridge request for tool `name` with `given` as its arguments, from the chat `from`; nothing
// for a name that is no tool. Missing or mistyped arguments become their defaults rather than a
// refusal.
std::optional<nlohmann::json> request(const std::string& name, const nlohmann::json& given,
                                      const std::string& from);

// The tool result shown to the agent for the host's reply `said`, whose text it takes rather than
// copies.
nlohmann::json result(nlohmann::json said);

}  // namespace vesk
