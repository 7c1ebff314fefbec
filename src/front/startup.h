// The process-wide values and start-up. startup() runs once on the main thread before any other
// thread exists; afterwards nothing changes these values, so any thread reads them without a lock.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "front/dispatch.h"

namespace vesk {

extern std::vector<std::string> arguments;  // the command line, the program's own path first
extern std::string chat;                    // this chat's id; empty when not given
extern std::string socketPath;              // the bridge socket; empty when there is none
extern nlohmann::json tools;                // the tool catalogue
extern std::mutex writeLock;                // guards standard output
extern Queue& calls;                        // runs the tool calls; never destroyed
extern Group running;                       // counts the tool calls in flight

// Fixes every value above, in the order they are declared. Validates and reports nothing.
void startup(int argc, char** argv);

// The element of `arguments` that follows the first element equal to `flag` (whole-element match),
// or nothing when the flag is absent or last. The value may be empty or begin with dashes.
std::optional<std::string> option(std::string_view flag);

// The user's home directory: $HOME when set and not empty, else the password database's entry for
// the user; empty when neither gives one.
std::string home();

// The default bridge socket path under `home`, with exactly one separator between the two; empty
// when `home` is, since there is then no default path.
std::string fallback(std::string_view home);

}  // namespace vesk
