#include "capture.h"

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace fuzzing {

namespace {

int realOut = -1, realErr = -1;  // the descriptors 1 and 2 that libFuzzer gave us
int memoryOut = -1, memoryErr = -1;
bool diverted = false;

void prepare() {
  if (realOut >= 0) return;
  // Taken at the first input rather than at start-up, once libFuzzer has set its descriptors up.
  realOut = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  realErr = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  memoryOut = ::memfd_create("fuzz-stdout", MFD_CLOEXEC);
  memoryErr = ::memfd_create("fuzz-stderr", MFD_CLOEXEC);
  if (realOut < 0 || realErr < 0 || memoryOut < 0 || memoryErr < 0) std::abort();
  // A sanitizer report in the middle of an input must not vanish into a memory file.
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(realErr)));
}

void empty(int fd) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) std::abort();
}

std::string contents(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) std::abort();
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    std::abort();
  return bytes;
}

void say(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(realErr >= 0 ? realErr : 2, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void divert() {
  prepare();
  empty(memoryOut);
  empty(memoryErr);
  if (::dup2(memoryOut, 1) < 0 || ::dup2(memoryErr, 2) < 0) std::abort();
  diverted = true;
}

Written restore() {
  if (::dup2(realOut, 1) < 0 || ::dup2(realErr, 2) < 0) std::abort();
  diverted = false;
  return {contents(memoryOut), contents(memoryErr)};
}

void fail(std::string_view what, std::string_view detail) {
  if (diverted) restore();
  say("\n*** broken invariant: ");
  say(what);
  say("\n");
  if (!detail.empty()) {
    // Enough of the offending bytes to see the problem, not a flood.
    say(detail.substr(0, 2000));
    say("\n");
  }
  std::abort();
}

}  // namespace fuzzing
