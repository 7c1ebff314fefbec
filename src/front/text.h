// Turning raw bytes into JSON values: UTF-8 repair, and the one strict reader that every incoming
// JSON text goes through, from the client and from the host alike. All pure and safe from any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

// What parse() makes of bytes that are not UTF-8: the client's are read as repaired (U+FFFD,
// without a repaired copy), the host's make its reply unreadable.
enum class Utf8 { refused, repaired };

// Parses `text` as exactly one JSON object, strictly (whitespace around it allowed), and returns a
// discarded value (`is_discarded()`) for anything else: a syntax error, another top-level type,
// trailing data, a raw NUL byte, nesting deeper than `deepest`, bytes that are not UTF-8 (unless
// repaired), or no memory to hold the value. Never throws. An escaped lone surrogate, as a Node
// client writes a string cut inside an emoji ("\ud83d"), is read as U+FFFD: its escape is
// rewritten in `text`, in place, which is why `text` is not const.
// A number written with a fraction or an exponent that is a whole number within signed 64 bits
// (3.0, 30e-1) is read as that integer, since its double could not tell -2^63 from the numbers
// just beyond it; any other such number stays a double. The top-level `id` member is read exactly
// as written, because it is written back.
nlohmann::json parse(std::span<char> text, Utf8 broken = Utf8::refused);

// Takes `value` apart leaf by leaf. nlohmann's destructor allocates a stack as large as a value's
// children to free them; this frees them allocating nothing, so that a large value can still be
// let go when memory has run out. Leaves `value` an empty container or a scalar.
void dismantle(nlohmann::json& value) noexcept;

// Dismantles a value when the scope ends, the usual way out included.
class Dismantling {
 public:
  explicit Dismantling(nlohmann::json& value) : value(value) {}
  ~Dismantling() { dismantle(value); }
  Dismantling(const Dismantling&) = delete;
  Dismantling& operator=(const Dismantling&) = delete;

 private:
  nlohmann::json& value;
};

// Reading a member of a message that may be missing or of another type: `object[key]` when it is a
// string, else the empty string; `object[key]` when it is an object, else an empty object.
std::string stringMember(const nlohmann::json& object, const char* key);
const nlohmann::json& objectMember(const nlohmann::json& object, const char* key);

// The whole number that `written`, the text of a JSON number, stands for, when it is one within
// signed 64 bits: "3.0" and "30e-1" give 3; "2.5", "1e-400" and "-9223372036854775809" give none.
std::optional<std::int64_t> exactly(std::string_view written);

}  // namespace vesk
