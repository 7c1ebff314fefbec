#include "bridge/exchange.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "bridge/platform.h"
#include "front/writer.h"

namespace vesk {

namespace {

// What the connector reads of a host's reply; the rest is checked and passed over.
constexpr Member replyMembers[] = {{"ok"}, {"text"}, {"error"}};

constexpr std::size_t readSize = 65536;
constexpr std::size_t nearSize = 1024;  // what a read puts on the stack: a usual reply fits there
constexpr std::size_t replyCap = 4000000;  // decimal, not 4 MiB
constexpr time_t socketTimeout = 660;      // seconds, for each single read and each write
const uid_t ownUser = ::geteuid();         // read once: the connector never changes its user

// Fills `address` for `path`; false when the path cannot be used as it is. An empty path is refused
// too: on Linux an empty sun_path would name the abstract namespace, not a file.
bool locate(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() > platform::longestPath) return false;  // never cut short
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

void configure(int fd) {
  // Results ignored on purpose: without a time-out or the signal guard the exchange still works.
  timeval limit{socketTimeout, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  // A host that accepts and never reads must not hold a large request, and the exit, forever.
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  // A host that hangs up mid-write must give us an error, not a SIGPIPE that ends the process.
  platform::nosignal(fd);
}

// Sends the whole frame; false on any failure, a timed-out send included. On Linux a send with a
// time-out fails with EINTR after the process is stopped and continued (Ctrl-Z, fg) although no
// handler is installed; nothing failed then, so it goes on.
bool transmit(int fd, std::string_view frame) {
  while (!frame.empty()) {
    ssize_t n = ::send(fd, frame.data(), frame.size(), platform::sendFlags);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // host gone, or out of time: not retried
    frame.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The part of a read's room past its first `nearSize` bytes: a mapping that each thread makes at
// its first exchange and unmaps when it ends, which a usual reply never touches. On the stack it
// would put the blocking read a page further down every waiting worker's stack, and from the heap
// it would take the lock that every thread shares, twice a call. A mapping that fails waits in the
// new-handler, as a failed allocation does, and may end in std::bad_alloc there.
char* farRoom() {
  static constexpr std::size_t size = readSize - nearSize;
  struct Mapping {
    void* block = MAP_FAILED;
    ~Mapping() {
      if (block != MAP_FAILED) ::munmap(block, size);
    }
  };
  thread_local Mapping room;
  while (room.block == MAP_FAILED) {
    room.block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room.block != MAP_FAILED) break;
    std::new_handler wait = std::get_new_handler();
    if (wait == nullptr) throw std::bad_alloc();
    wait();
  }
  return static_cast<char*>(room.block);
}

// Collects the reply: until its last byte so far is LF, the host stops sending (end of file, an
// error or the time-out), or the cap is reached. A read interrupted by a stop and continue (see
// transmit()) is read again.
std::string receive(int fd) {
  // Every read asks for `readSize` bytes, since where a read ends decides whether an LF ends the
  // reply: the first `nearSize` onto the stack, among pages the worker has touched already, the
  // rest into the thread's far room.
  char near[nearSize];
  char* far = farRoom();
  std::string received;
  for (;;) {
    iovec parts[] = {{near, nearSize}, {far, readSize - nearSize}};
    ssize_t n = ::readv(fd, parts, 2);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      auto brought = static_cast<std::size_t>(n);
      received.append(near, std::min(brought, nearSize));
      if (brought > nearSize) received.append(far, brought - nearSize);
    }
    // Ends at end of file, an error or a time-out (not told apart), a complete line from the host,
    // or the cap, for a host that never ends its line.
    if (n <= 0 || received.back() == '\n' || received.size() >= replyCap) return received;
  }
}

// Connects `fd`; false when the host cannot be reached. A connect waiting on a host whose backlog
// is full also fails with EINTR after a stop and continue. On Linux the Unix-domain socket is then
// left unconnected (a poll says it is writable and SO_ERROR is 0, yet it has no peer), so connect
// is called again; where the connection goes on by itself instead, the second call says so
// (EALREADY, or EISCONN once it is made), and the connection is awaited and its outcome taken.
bool reach(int fd, const sockaddr_un& address) {
  auto* target = reinterpret_cast<const sockaddr*>(&address);
  for (;;) {
    if (::connect(fd, target, sizeof address) == 0 || errno == EISCONN) return true;
    if (errno == EINTR) continue;
    if (errno != EALREADY && errno != EINPROGRESS) return false;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
}

// Whether the host may be sent the agent's words: it runs as this process's own user, or as root,
// who could read them anyway. Any other user could have taken the path to collect them, and a
// host the kernel cannot name counts as one.
bool trusted(int fd) {
  std::optional<uid_t> peer = platform::peerUser(fd);
  return peer && (*peer == ownUser || *peer == 0);
}

// A reply made up here, shaped like the host's refusals.
Document refusal(std::string_view error) {
  Document reply;
  reply.root().emplace("ok", false);
  reply.root().emplace("error", error);
  return reply;
}

// Everything after connecting, beginning with who listens, before a byte leaves; the caller owns
// and closes `fd`.
Document talk(int fd, const json::object& request) {
  if (!trusted(fd))
    return refusal("The Vesk bridge socket belongs to another user, so nothing was sent.");
  std::string frame = compact(request);
  frame += '\n';
  if (!transmit(fd, frame)) return unreachable();
  return replyFrom(receive(fd));
}

}  // namespace

Document unreachable() {
  return refusal("Vesk isn\u2019t open on this Mac, so the other chats can\u2019t be reached.");
}

Document silent() {
  return refusal("Vesk didn\u2019t answer in time.");
}

Document replyFrom(std::string_view received) {
  std::optional<Document> reply = parseReply(received, replyMembers);
  return reply ? std::move(*reply) : silent();
}

Document ask(const json::object& request, const std::string& path) {
  sockaddr_un address;
  if (!locate(path, address)) return unreachable();
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return unreachable();
  // Before connecting: on Linux the send time-out also bounds a connect that waits on a host
  // whose backlog is full because it never accepts.
  configure(fd);
  // Closed however the exchange ends, memory running out mid-exchange included.
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  return reach(fd, address) ? talk(fd, request) : unreachable();
}

}  // namespace vesk
