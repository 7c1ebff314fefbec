// bench-host: plays Vesk for the benchmarks. Listens on a Unix socket and answers each connection's
// request line at once, or after a fixed delay, from one epoll thread, so that the host is never
// what a benchmark measures.
//
//   bench-host SOCKET DELAY_MS [PAD_BYTES]
//
// The reply names the request's chat, `{"ok":true,"text":"read <chat>"}`, so the driver can tell
// that each answer came from its own exchange; with PAD_BYTES, that many bytes of "x" follow the
// chat in the text, for the big replies. A line "stats" on standard input is answered on
// standard output with "served N bad M" (the counts since the last "stats"); end of input stops it.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
  Clock::time_point due;
  int fd;
  std::string reply;
};

struct Host {
  int listener = -1;
  int poller = -1;
  std::chrono::milliseconds delay{0};
  std::string pad;                               // appended to every reply's text
  std::unordered_map<int, std::string> partial;  // request bytes of each open connection
  std::deque<Pending> held;                      // replies waiting for their delay, oldest first
  long served = 0, bad = 0;
};

// Writes all of `bytes`; the socket is blocking once a reply is due, and replies are small.
void whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return;  // the connector is gone: nothing to do
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// The string value of `"key":"` in `request`, without any JSON parsing; empty when absent.
std::string member(std::string_view request, std::string_view key) {
  std::string pattern = "\"" + std::string(key) + "\":\"";
  std::size_t at = request.find(pattern);
  if (at == std::string_view::npos) return "";
  at += pattern.size();
  std::size_t end = request.find('"', at);
  return end == std::string_view::npos ? "" : std::string(request.substr(at, end - at));
}

std::string replyFor(Host& host, std::string_view request) {
  std::string chat = member(request, "chat");
  bool valid = member(request, "op") == "read" && !chat.empty();
  ++(valid ? host.served : host.bad);
  return "{\"ok\":true,\"text\":\"read " + chat + host.pad + "\"}\n";
}

void finish(int fd, const std::string& reply) {
  whole(fd, reply);
  ::close(fd);
}

void accept(Host& host) {
  for (;;) {
    int fd = ::accept4(host.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // no more waiting connections
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(host.poller, EPOLL_CTL_ADD, fd, &event);
    host.partial[fd];
  }
}

void receive(Host& host, int fd) {
  char buffer[4096];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  std::string& request = host.partial[fd];
  if (n > 0) request.append(buffer, static_cast<std::size_t>(n));
  bool complete = !request.empty() && request.back() == '\n';
  if (n > 0 && !complete) return;  // the rest of the line is still coming
  ::epoll_ctl(host.poller, EPOLL_CTL_DEL, fd, nullptr);
  std::string reply = replyFor(host, request);
  host.partial.erase(fd);
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (host.delay.count() == 0) return finish(fd, reply);
  host.held.push_back({Clock::now() + host.delay, fd, std::move(reply)});
}

void release(Host& host) {
  auto now = Clock::now();
  while (!host.held.empty() && host.held.front().due <= now) {
    finish(host.held.front().fd, host.held.front().reply);
    host.held.pop_front();
  }
}

int timeout(const Host& host) {
  if (host.held.empty()) return -1;
  auto left = host.held.front().due - Clock::now();
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms < 0 ? 0 : static_cast<int>(ms);
}

// Answers "stats"; false at end of input.
bool command(Host& host) {
  char buffer[256];
  ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) return false;
  std::printf("served %ld bad %ld\n", host.served, host.bad);
  std::fflush(stdout);
  host.served = host.bad = 0;
  return true;
}

int listen(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return -1;
  std::strcpy(address.sun_path, path);
  ::unlink(path);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  // A deep backlog: a thousand calls may connect at once.
  if (::listen(fd, 4096) != 0) return -1;
  return fd;
}

void watch(int poller, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  ::epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: bench-host SOCKET DELAY_MS [PAD_BYTES]\n");
    return 2;
  }
  Host host;
  host.delay = std::chrono::milliseconds(std::atol(argv[2]));
  if (argc == 4) host.pad.assign(static_cast<std::size_t>(std::atol(argv[3])), 'x');
  host.listener = listen(argv[1]);
  host.poller = ::epoll_create1(EPOLL_CLOEXEC);
  if (host.listener < 0 || host.poller < 0) {
    std::perror("bench-host");
    return 1;
  }
  watch(host.poller, host.listener);
  watch(host.poller, STDIN_FILENO);
  std::printf("ready\n");
  std::fflush(stdout);
  epoll_event events[256];
  for (;;) {
    int n = ::epoll_wait(host.poller, events, 256, timeout(host));
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == host.listener)
        accept(host);
      else if (fd == STDIN_FILENO && !command(host))
        return 0;
      else if (fd != STDIN_FILENO)
        receive(host, fd);
    }
    release(host);
  }
}
