// Everything written to standard output: one compact JSON object per line, each line written whole
// under `writeLock`. Safe from any thread, at any time after start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {

// A result object already written as compact JSON text, for the answers whose result never
// changes ("{}" for a ping, the catalogue for "tools/list"): splicing it saves serialising it anew.
struct Serialised {
  std::string_view text;
};

// Writes the success response for request `id`, carrying `result`. A response that cannot be
// serialised (invalid UTF-8 in a string) is dropped without a word; a failed write to standard
// output is not reported either.
void reply(const nlohmann::json& id, const nlohmann::json& result);
void reply(const nlohmann::json& id, Serialised result);

// Writes the error response for request `id`: exactly `code` and `message`, no `data`.
void failure(const nlohmann::json& id, std::int64_t code, const std::string& message);

}  // namespace vesk
