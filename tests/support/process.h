// A program started from a test the way a client or a person starts it, so that the tests of the
// connector and of the demo host launch their children alike. Use a Child from one thread.
#pragma once

#include <sys/types.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Changes to the child's environment: a value sets the variable, nothing removes it.
using Environment = std::map<std::string, std::optional<std::string>>;

class Child {
 public:
  // Runs argv[0] with `argv` and this process's environment changed by `changes`, with SIGPIPE at
  // its default whatever this process does with it. `streams` become its standard input, output
  // and error (-1 leaves one inherited) and stay this side's to close; every other descriptor this
  // side opens should be close-on-exec, so that the child holds no pipe end it must not. Throws
  // std::runtime_error when it cannot start.
  Child(std::vector<std::string> argv, const Environment& changes, std::array<int, 3> streams);
  ~Child();  // kills it, if it still runs, and reaps it
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t id() const { return pid; }  // -1 once it has been waited for
  void signal(int number) const;
  // Waits for it to end. Returns its exit status, or -1 when it did not exit normally.
  int wait();

 private:
  pid_t pid = -1;
};

// Waits, for at most 30 s, until `fd` has bytes to read and appends them to `text`. False at its
// end, and on time-out: a generous bound, so that a child that hangs fails its test, not the suite.
bool readMore(int fd, std::string& text);

}  // namespace testing_support
