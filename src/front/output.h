// Everything written to standard output: one compact JSON object per line, each line written whole
// under `writeLock`. Safe from any thread, at any time after start-up.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace vesk {

// Writes `message` as one line. A message that cannot be serialised is dropped without a word; a
// failed write to standard output is not reported either.
void output(const nlohmann::json& message);

// Writes the success response for request `id`, carrying `result`.
void reply(const nlohmann::json& id, nlohmann::json result);

// Writes the error response for request `id`: exactly `code` and `message`, no `data`.
void failure(const nlohmann::json& id, std::int64_t code, const std::string& message);

}  // namespace vesk
