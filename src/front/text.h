// Turning raw bytes into JSON values: UTF-8 repair for what the client sends, and the one strict
// reader that every incoming JSON text goes through. Both are pure and safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {

// Deepest nesting of arrays and objects that parse() accepts. Copying, writing and comparing JSON
// values recurse once per level, so an unbounded depth from either peer could exhaust a stack;
// no request or reply of this protocol comes anywhere near it.
inline constexpr std::size_t deepest = 512;

// Returns `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD (one replacement for each
// maximal ill-formed subpart, as the Unicode standard recommends). Valid text comes back unchanged.
std::string repair(std::string_view bytes);

// Parses `text` as exactly one strict JSON text (whitespace around it allowed). Returns a discarded
// value (`is_discarded()`) on any syntax error, invalid UTF-8, a raw NUL byte, trailing data or
// nesting deeper than `deepest`. Never throws.
nlohmann::json parse(std::string_view text);

// Reading a member of a message that may be missing or of another type: `object[key]` when it is a
// string, else the empty string; `object[key]` when it is an object, else an empty object.
std::string text(const nlohmann::json& object, const char* key);
const nlohmann::json& nested(const nlohmann::json& object, const char* key);

}  // namespace vesk
