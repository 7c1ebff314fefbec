// One exchange with the host over the bridge socket: connect, send one request line, read one
// reply, close. Re-entrant: any number of threads may be in an exchange at once.
#pragma once

#include <string>
#include <string_view>

#include "front/json.h"
#include "front/reader.h"

namespace vesk {

// Sends `request` to the host listening at `path` and returns the host's reply, a JSON object, with
// the members a tool result is made of (`ok`, `text`, `error`). When the host cannot be reached it
// returns the not-open reply; when it runs as a user other than this process's own or root, a
// refusal saying so, with nothing sent; when it gives no readable object, the no-answer reply.
// Blocks for the whole exchange; throws nothing but std::bad_alloc.
Document ask(const json::object& request, const std::string& path);

// Two of the replies ask() makes up itself, shaped like a refusal from the host.
Document unreachable();  // the not-open reply
Document silent();       // the no-answer reply

// For the tests: how ask() reads a reply.

// The host's reply in the bytes `received`: the object they hold, or the no-answer reply when they
// are not exactly one JSON object.
Document replyFrom(std::string_view received);

}  // namespace vesk
