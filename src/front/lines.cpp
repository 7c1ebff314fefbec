#include "front/lines.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "front/memory.h"

namespace vesk {

namespace {

constexpr std::size_t chunk = 65536;

// A buffer grown for a long line is kept for the next one up to this size, which the long
// messages of a chat stay within, so that a run of them reuses one buffer; a larger one goes back
// to the system once its line is done.
constexpr std::size_t keptBuffer = 16 * chunk;

// Reads what `fd` has, up to `size` bytes: 0 at end of input, negative on an error. Waits for a
// non-blocking descriptor that has nothing yet, and goes on after an interruption.
ssize_t readSome(int fd, char* into, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, into, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return n;
    pollfd ready{fd, POLLIN, 0};
    ::poll(&ready, 1, -1);
  }
}

}  // namespace

bool Lines::next(std::string_view& line) {
  for (;;) {
    std::size_t end = pending.find('\n', scanned);
    if (end != std::string::npos) {
      std::size_t length = end - lineStart;
      if (length > 0 && pending[end - 1] == '\r') --length;
      line = std::string_view(pending.data() + lineStart, length);
      lineStart = scanned = end + 1;
      return true;
    }
    scanned = pending.size();
    if (!ended && more()) continue;
    // Input is over: what is left, if anything, is a last line without LF.
    if (lineStart == pending.size()) return false;
    line = std::string_view(pending.data() + lineStart, pending.size() - lineStart);
    lineStart = scanned = pending.size();
    return true;
  }
}

bool Lines::more() {
  try {
    if (skipping) return skim();
    reclaim();
    std::size_t used = pending.size();
    pending.resize(used + chunk);
    ssize_t n = readSome(fd, pending.data() + used, chunk);
    pending.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n <= 0) ended = true;  // end of input, or a descriptor that can no longer be read
    return n > 0;
  } catch (const std::bad_alloc&) {
    // No room for the line so far and a chunk more: it is lost alone. Its bytes go now, and the
    // rest of it as it arrives; should the next line's first bytes find no room either, it goes
    // the same way.
    std::string().swap(pending);
    lineStart = scanned = 0;
    skipping = true;
    replenish();
    return true;
  }
}

bool Lines::skim() {
  char scratch[chunk];
  for (;;) {
    ssize_t n = readSome(fd, scratch, sizeof scratch);
    if (n <= 0) {
      ended = true;
      return false;
    }
    char* lf = static_cast<char*>(std::memchr(scratch, '\n', static_cast<std::size_t>(n)));
    if (lf == nullptr) continue;
    pending.assign(lf + 1, scratch + n);
    skipping = false;
    return true;
  }
}

void Lines::reclaim() {
  std::size_t rest = pending.size() - lineStart;
  if (pending.capacity() > keptBuffer && rest < chunk) {
    // A very long line is done: its buffer goes back to the system rather than staying for good.
    std::string(pending, lineStart).swap(pending);
    releaseMemory();
  } else {
    pending.erase(0, lineStart);
  }
  scanned -= lineStart;
  lineStart = 0;
}

}  // namespace vesk
