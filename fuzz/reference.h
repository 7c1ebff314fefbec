// Boost.JSON's own reader as the reference that the connector's reader is held to, and where the
// two may rightly differ. Pure; safe from any thread.
#pragma once

#include <string_view>

#include "front/json.h"

namespace fuzzing {

// `text` as Boost.JSON reads it with the connector's nesting bound (512 levels) and no other
// option; `ec` says why it is refused.
vesk::json::value reference(std::string_view text, vesk::json::error_code& ec);

// Whether the connector may take `text` although Boost.JSON refuses it, as it mends what the
// parser refuses: the escape of a lone surrogate, read as U+FFFD, and an exponent too long for the
// parser (ten digits or more), read as the number it is. Any escape of a surrogate counts, so that
// no guess is made about where the parser stopped; a byte order mark, which the connector passes
// over, is the caller's to remove.
bool mendable(std::string_view text);

}  // namespace fuzzing
