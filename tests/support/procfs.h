// What /proc tells of a child process: its memory, its descriptors, and its threads and what each
// waits in. Linux only, like the tests that read it; safe from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace testing_support {

// A figure of /proc/PID/status in kB, such as "VmRSS", "VmHWM" or "VmSize"; -1 when it cannot be
// read.
long statusKb(pid_t pid, const std::string& field);

// How many descriptors it holds open.
std::size_t descriptors(pid_t pid);

// The state letter of each of its threads (R, S, T, ...) and the kernel function each waits in.
struct Task {
  char state;
  std::string channel;
};
std::vector<Task> tasks(pid_t pid);

// Waits, for at most 30 s, until one of its threads waits in a kernel function whose name holds
// `channel` (or, with an empty `channel`, until every thread is stopped); false on time-out.
bool awaitTask(pid_t pid, const std::string& channel);

}  // namespace testing_support
