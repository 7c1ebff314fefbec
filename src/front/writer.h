// Compact JSON text of the values the connector makes itself: results, errors, bridge requests.
// Boost.JSON's own writer goes through every string a character at a time once it has met one
// escape, and the strings here (a chat's messages, megabytes of them) are full of line feeds.
// Pure; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "front/json.h"

namespace vesk {

// `object` as compact JSON text. Doubles, which the connector never makes, are left to the library.
std::string compact(const json::object& object);

// Appends `text` to `out` as a JSON string, quoted and escaped.
void quote(std::string& out, std::string_view text);

}  // namespace vesk
