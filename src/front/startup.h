// What the connector takes from the outside world, fixed once by startup() on the main thread
// before any other thread exists; afterwards nothing changes these values, so any thread reads
// them without a lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

extern std::string chat;        // this chat's id; empty when not given
extern std::string socketPath;  // the bridge socket; empty when there is none

// Sets the two values above, in that order, from the command line and the environment.
// Validates and reports nothing.
void startup(int argc, char** argv);

// For the tests: the pieces of startup().

// The element of `arguments` (the command line, the program's own path first) that follows the
// first element equal to `flag` (whole-element match), or nothing when the flag is absent or
// last. The value may be empty or begin with dashes.
std::optional<std::string> option(const std::vector<std::string>& arguments, std::string_view flag);

// The user's home directory: `variable` ($HOME) when set and not empty, else the password
// database's entry for the user; empty when neither gives one.
std::string home(const char* variable);

// The default bridge socket path under `home`, with exactly one separator between the two; empty
// when `home` is, since there is then no default path.
std::string fallback(std::string_view home);

}  // namespace vesk
