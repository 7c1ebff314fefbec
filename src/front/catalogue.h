// The tool catalogue offered to the agent, and the "tools/list" entry that returns it. Safe from
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "front/json.h"
#include "front/output.h"

namespace vesk {

// The three tool descriptions, in the order the agent sees them. Built once, before main() runs,
// and never changed.
extern const json::array tools;

// How long a modern client may keep what describes the connector (its tools, its discovery result)
// before asking again, and for whom. Both never change while the process lives and are the same
// for every caller; only another binary, which runs in a new process, can change them.
inline constexpr std::int64_t cacheMilliseconds = 3600000;
inline constexpr std::string_view cacheScope = "public";

// The "tools/list" result for `era` as compact JSON text, serialised from `tools` once, at the
// first call: `{"tools":[...]}`, with the cache hints as well for the modern era.
const std::string& listing(Era era);

// Answers "tools/list" with the whole catalogue. A request's params (a cursor among them) change
// nothing, since there is never a further page.
void list(Id id, Era era);

}  // namespace vesk
