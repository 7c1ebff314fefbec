// Everything written to standard output: one compact JSON object per line, each line written whole
// and never two at once. Safe from any thread, at any time after start-up.
#pragma once

#include <cstdint>
#include <string_view>

#include "front/json.h"
#include "front/protocol.h"

namespace vesk {

// A result object already written as compact JSON text, for the answers whose result never
// changes ("{}" for a ping, the catalogue for "tools/list"): splicing it saves serialising it anew.
struct Serialised {
  std::string_view text;
};

// Writes the success response for request `id`, carrying `result`, shaped for `era`: a modern
// result also says it is complete and names the server in its `_meta`. Every string written is
// UTF-8 already: what comes from outside is mended or refused where it is read. A failed write to
// standard output is not reported.
void reply(const Id& id, const json::object& result, Era era);
void reply(const Id& id, Serialised result, Era era);

// Writes the error response for request `id`: exactly `code` and `message`, and `data` when given.
void failure(const Id& id, std::int64_t code, std::string_view message,
             const json::object& data = json::object());

}  // namespace vesk
