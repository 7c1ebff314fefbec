// The tool catalogue offered to the agent, and the "tools/list" entry that returns it. Safe from
// any thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vesk {

// The three tool descriptions, in the order the agent sees them. Built once, before main() runs,
// and never changed.
extern const nlohmann::json tools;

// The "tools/list" result, `{"tools":[...]}`, as compact JSON text: serialised from `tools` once,
// at the first call.
const std::string& listing();

// Answers "tools/list" with the whole catalogue; its params (a cursor among them) are ignored,
// since there is never a further page.
void list(const nlohmann::json& id, const nlohmann::json& params);

}  // namespace vesk
