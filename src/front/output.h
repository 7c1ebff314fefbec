// Everything written to standard output: one compact JSON object per line, each line written whole
// under `writeLock`. Safe from any thread, at any time after start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {

// Writes `message` as one line. A message that cannot be serialised is dropped without a word; a
// failed write to standard output is not reported either.
void output(const nlohmann::json& message);

// Writes `line`, one whole response already serialised and ending in LF, as it is.
void emit(std::string_view line);

// The success response line for request `id`, LF included, around `result`, which is already the
// compact JSON text of the result object. Byte for byte what output() writes for the same envelope;
// empty when `id` cannot be serialised.
std::string envelope(const nlohmann::json& id, std::string_view result);

// Writes the success response for request `id`, carrying `result`.
void reply(const nlohmann::json& id, const nlohmann::json& result);

// Writes the error response for request `id`: exactly `code` and `message`, no `data`.
void failure(const nlohmann::json& id, std::int64_t code, const std::string& message);

}  // namespace vesk
