// UTF-8 as the connector takes it from the outside world: telling well-formed text from
// ill-formed, and mending the ill-formed. Pure; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vesk::utf8 {

// Whether every sequence in `bytes` is well formed.
bool wellFormed(std::string_view bytes);

// `bytes` with each maximal ill-formed subpart replaced by U+FFFD, as the Unicode standard
// recommends. Well-formed text comes back unchanged.
std::string repaired(std::string_view bytes);

}  // namespace vesk::utf8
