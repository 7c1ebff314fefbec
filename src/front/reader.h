// Reading what arrives as JSON: the client's lines and the host's replies go through one strict
// reader, and tool arguments through the same lenient member readers. All pure and safe from any
// thread.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesk {

// The message on one line of the client's input: exactly one JSON object, read strictly
// (whitespace around it allowed), or a discarded value (`is_discarded()`) for anything else: a
// syntax error, another top-level type, trailing data, a raw NUL byte, nesting deeper than 512
// levels, or no memory to hold the value. Bytes that are not UTF-8 are read as U+FFFD, and so is
// an escaped lone surrogate, as a Node client writes a string cut inside an emoji ("\ud83d").
// A number written with a fraction or an exponent that is a whole number within signed 64 bits
// (3.0, 30e-1) is read as that integer, since its double could not tell -2^63 from the numbers
// just beyond it; any other such number stays a double. The top-level `id` member is the
// exception: it is written back, so it keeps the type it was read as. An id written with a
// fraction or an exponent, or an integer beyond 64 bits, is read as the nearest binary64 double and
// written back in the shortest form that reads as that double: 2.0 as 2.0, 1e2 as 100.0,
// 0.10000000000000001 as 0.1, 99999999999999999999 as 1e+20; digits beyond a double's precision
// are not kept. A number beyond binary64 (1e400, a 400-digit integer), in the id or any other
// member, makes the line unreadable. Never throws.
nlohmann::json parseLine(std::string_view line);

// The object in a host's reply, read as parseLine() reads a line, except that bytes that are not
// UTF-8 make the reply unreadable (a discarded value): the host is held to its side of the format.
nlohmann::json parseReply(std::string_view reply);

// Returns `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD (one replacement for each
// maximal ill-formed subpart, as the Unicode standard recommends). Valid text comes back unchanged.
std::string repair(std::string_view bytes);

// Reading a member of a message that may be missing or of another type: `object[key]` when it is a
// string, else the empty string; `object[key]` when it is an object, else an empty object.
std::string stringMember(const nlohmann::json& object, const char* key);
const nlohmann::json& objectMember(const nlohmann::json& object, const char* key);

// Takes a value apart leaf by leaf when the scope ends. nlohmann's destructor allocates a stack as
// large as a value's children to free them, which for a line of 100 MB of small numbers is 800 MB
// more at the peak; this frees them allocating nothing.
class Dismantling {
 public:
  explicit Dismantling(nlohmann::json& unmade) : value(unmade) {}
  ~Dismantling();
  Dismantling(const Dismantling&) = delete;
  Dismantling& operator=(const Dismantling&) = delete;

 private:
  nlohmann::json& value;
};

}  // namespace vesk
