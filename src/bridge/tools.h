// Tool calls: the "tools/call" entry, which hands each call to a worker thread, and call(), which
// turns one call into a bridge exchange and answers it. Safe from any thread after start-up.
#pragma once

#include <optional>
#include <string_view>

#include "front/json.h"
#include "front/protocol.h"
#include "front/reader.h"

namespace vesk {

// The "tools/call" entry, on the main thread: hands the call to `calls`, counted in `running`, with
// `message`, which holds `id` and `params` and goes with them, and returns at once, without waiting
// for the host. The answer is shaped for `era`; a modern call can be cancelled until it is
// answered.
void handover(Document message, const Id& id, const json::object& params, Era era);

// A client's "notifications/cancelled" for the request whose id is written `requestId`: a modern
// call in flight with the same id, the same JSON text, will not be answered, although its exchange
// with the host runs to its end. Anything else (a legacy call, an id not in flight, one already
// answered) changes nothing.
void cancel(std::string_view requestId);

// For the tests: the two halves of a call.

// The bridge request for tool `name` with `given` as its arguments, from the chat `from`; nothing
// for a name that is no tool. Missing or mistyped arguments become their defaults rather than a
// refusal.
std::optional<json::object> request(std::string_view name, const json::object& given,
                                    std::string_view from);

// The tool result shown to the agent for the host's reply `said`, whose text it takes rather than
// copies.
json::object result(json::object said);

}  // namespace vesk
