// Tool calls: the "tools/call" entry, which hands each call to a worker thread, and call(), which
// turns one call into a bridge exchange and answers it. Safe from any thread after start-up.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vesk {

// The "tools/call" entry, on the main thread: hands copies of `id` and `params` to `calls`, counted
// in `running`, and returns at once, without waiting for the host.
void handover(const nlohmann::json& id, const nlohmann::json& params);

// Carries out one call and writes exactly one response for it: an error for a name that is no
// tool, otherwise the tool result made of the host's reply.
void call(const nlohmann::json& id, const nlohmann::json& params);

// The bridge request for tool `name` with `given` as its arguments, from the chat `from`; nothing
// for a name that is no tool. Missing or mistyped arguments become their defaults rather than a
// refusal.
std::optional<nlohmann::json> request(const std::string& name, const nlohmann::json& given,
                                      const std::string& from);

// The tool result shown to the agent for the host's reply `said`, whose text it takes rather than
// copies.
nlohmann::json result(nlohmann::json said);

}  // namespace vesk
