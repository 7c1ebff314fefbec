// What the code under test writes, caught while one fuzz input runs. Standard output and standard
// error are pointed at memory files for that span only, so libFuzzer's own messages between inputs
// stay on the real standard error, and sanitizer reports always go there. Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fuzzing {

struct Written {
  std::string out;  // the bytes written to descriptor 1
  std::string err;  // the bytes written to descriptor 2
};

// From now until restore(), descriptors 1 and 2 write to fresh, empty memory files.
void divert();

// Points descriptors 1 and 2 back where they were and returns what was written meanwhile.
Written restore();

// Reports a broken invariant on the real standard error and aborts, which libFuzzer records as a
// crash together with the input that caused it.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

}  // namespace fuzzing
