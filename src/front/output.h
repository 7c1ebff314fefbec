// Everything written to standard output: one compact JSON object per line, each line written whole
// under `writeLock`. Safe from any thread, at any time after start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {

// The protocol era a request was made in, decided for each request on its own and carried to
// whatever answers it. A request of the 2026-07-28 revision (modern) claims it in its `_meta`;
// every other request is answered as before that revision (legacy).
enum class Era { legacy, modern };

// The one version of the modern era that the connector speaks.
inline constexpr std::string_view modernVersion = "2026-07-28";

// The connector's name and version, as every era reports them.
inline constexpr const char* serverName = "vesk";
inline constexpr const char* serverVersion = "1.0";

// A result object already written as compact JSON text, for the answers whose result never
// changes ("{}" for a ping, the catalogue for "tools/list"): splicing it saves serialising it anew.
struct Serialised {
  std::string_view text;
};

// Writes the success response for request `id`, carrying `result`, shaped for `era`: a modern
// result also says it is complete and names the server in its `_meta`. A response that cannot be
// serialised (invalid UTF-8 in a string) is dropped without a word; a failed write to standard
// output is not reported either.
void reply(const nlohmann::json& id, const nlohmann::json& result, Era era);
void reply(const nlohmann::json& id, Serialised result, Era era);

// Writes the error response for request `id`: exactly `code` and `message`, and `data` when given.
void failure(const nlohmann::json& id, std::int64_t code, const std::string& message);
void failure(const nlohmann::json& id, std::int64_t code, const std::string& message,
             const nlohmann::json& data);

}  // namespace vesk
