// The request loop of the main thread: reads requests, answers or hands them on, and at end of
// input waits for the tool calls in flight. Main thread only.
#pragma once

#include <string_view>

namespace vesk {

// Serves standard input until it ends, then returns once every tool call has answered.
void loop();

// Serves one line of input, as it came. A line that is not one JSON object, or a message without an
// `id`, is dropped without an answer.
void handle(std::string_view line);

}  // namespace vesk
