#include "front/lines.h"

#include <unistd.h>

#include <cerrno>

namespace vesk {

namespace {

constexpr std::size_t chunk = 65536;

}  // namespace

bool Lines::next(std::string& line) {
  for (;;) {
    std::size_t end = pending.find('\n', scanned);
    if (end != std::string::npos) {
      std::size_t length = end - start;
      if (length > 0 && pending[end - 1] == '\r') --length;
      line.assign(pending, start, length);
      start = scanned = end + 1;
      return true;
    }
    scanned = pending.size();
    if (!ended && more()) continue;
    // Input is over: what is left, if anything, is a last line without LF.
    if (start == pending.size()) return false;
    line.assign(pending, start);
    start = scanned = pending.size();
    return true;
  }
}

bool Lines::more() {
  // Drop the lines already returned, so the buffer holds at most one line and one chunk.
  pending.erase(0, start);
  scanned -= start;
  start = 0;
  std::size_t used = pending.size();
  pending.resize(used + chunk);
  ssize_t n;
  do {
    n = ::read(fd, pending.data() + used, chunk);
  } while (n < 0 && errno == EINTR);  // interrupted, not failed
  pending.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
  if (n <= 0) ended = true;  // end of input, or a descriptor that can no longer be read
  return n > 0;
}

}  // namespace vesk
