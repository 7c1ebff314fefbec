// The tool catalogue offered to the agent, and the "tools/list" entry that returns it. Safe from
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "front/json.h"
#include "front/protocol.h"

namespace vesk {

// Answers "tools/list" with the whole catalogue. A request's params (a cursor among them) change
// nothing, since there is never a further page.
void list(const Id& id, Era era);

// For the tests: what list() answers with.

// The three tool descriptions, in the order the agent sees them. Built once, before main() runs,
// and never changed.
extern const json::array catalogue;

// The "tools/list" result for `era` as compact JSON text, serialised from `catalogue` once, at the
// first call: `{"tools":[...]}`, with the cache hints as well for the modern era.
const std::string& listing(Era era);

}  // namespace vesk
