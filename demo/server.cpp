#include "server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>
#include <system_error>

namespace demo {

namespace {

constexpr std::size_t requestCap = 1
                                   << 20;  // a 64 KB message escaped at its worst fits well within
constexpr std::size_t readSize = 65536;
constexpr time_t patience = 10;  // seconds a connection may take to send its request line
constexpr std::size_t mostConnections = 64;

#ifdef MSG_NOSIGNAL
// MSG_NOSIGNAL: a client that hangs up before its reply must give an error, not a SIGPIPE that
// ends the host. Where the flag is missing, main() ignores SIGPIPE instead.
constexpr int quiet = MSG_NOSIGNAL;
#else
constexpr int quiet = 0;
#endif

constexpr std::string_view busyReply =
    "{\"ok\":false,\"error\":\"The demo host is already serving 64 connections; try again.\"}\n";
constexpr std::string_view longReply =
    "{\"ok\":false,\"error\":\"The request is over 1 MiB; a message can be up to 64 KB.\"}\n";

bool address(const std::string& path, sockaddr_un& into) {
  std::memset(&into, 0, sizeof into);
  into.sun_family = AF_UNIX;
  // An empty path would name Linux's abstract namespace, not a file; a long one is never cut short.
  if (path.empty() || path.size() > longestPath()) return false;
  std::memcpy(into.sun_path, path.data(), path.size());
  return true;
}

std::string reason(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// True when a host answers connections at `where`.
bool listening(const sockaddr_un& where) {
  int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (probe < 0) return false;
  bool answered = ::connect(probe, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
  ::close(probe);
  return answered;
}

// Removes a socket file that nobody listens on; false, with `problem` set, for anything else there.
bool sweep(const std::string& path, const sockaddr_un& where, std::string& problem) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return true;  // gone meanwhile: nothing to clear
  if (!S_ISSOCK(status.st_mode)) {
    problem = path + " exists and is not a socket; not touching it";
    return false;
  }
  if (listening(where)) {
    problem = "a host is already listening on " + path;
    return false;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    problem = reason("cannot remove the stale socket " + path);
    return false;
  }
  return true;
}

// Binds `fd` to `path`, replacing a stale socket file once.
bool bound(int fd, const std::string& path, const sockaddr_un& where, std::string& problem) {
  auto* target = reinterpret_cast<const sockaddr*>(&where);
  if (::bind(fd, target, sizeof where) == 0) return true;
  if (errno != EADDRINUSE) {
    problem = reason("cannot listen on " + path);
    return false;
  }
  if (!sweep(path, where, problem)) return false;
  if (::bind(fd, target, sizeof where) == 0) return true;
  problem = reason("cannot listen on " + path);
  return false;
}

// Writes all of `bytes`; false once the peer is gone.
bool whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), quiet);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::size_t longestPath() {
  return sizeof(sockaddr_un::sun_path) - 1;
}

int claim(const std::string& path, std::string& problem) {
  sockaddr_un where;
  if (!address(path, where)) {
    problem = path.empty()
                  ? "no socket path given"
                  : "the socket path is longer than " + std::to_string(longestPath()) + " bytes";
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) {
    problem = reason("cannot make a socket");
    return -1;
  }
  if (!bound(fd, path, where, problem)) {
    ::close(fd);
    return -1;
  }
  if (::listen(fd, 128) != 0) {
    problem = reason("cannot listen on " + path);
    ::close(fd);
    return -1;
  }
  return fd;
}

Got request(int fd, std::size_t cap, std::string& line) {
  timeval limit{patience, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit,
               sizeof limit);  // a silent client ends, not hangs
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);  // so does one that never reads
  auto buffer = std::make_unique_for_overwrite<char[]>(readSize);
  line.clear();
  for (;;) {
    ssize_t n = ::read(fd, buffer.get(), readSize);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? Got::nothing : Got::line;  // peer done, error or time-out
    std::string_view chunk(buffer.get(), static_cast<std::size_t>(n));
    std::size_t end = chunk.find('\n');
    line.append(chunk.substr(0, end));
    if (end != std::string_view::npos) return Got::line;  // the request's LF: reply at once
    if (line.size() > cap) return Got::tooLong;
  }
}

Server::Server(int listener, Answer answer) : listener(listener), answer(std::move(answer)) {
  if (::pipe(wake) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  acceptor = std::thread([this] { accepting(); });
}

Server::~Server() {
  stop();
}

void Server::stop() {
  {
    std::lock_guard<std::mutex> hold(lock);
    if (stopped) return;
    stopped = true;
  }
  char byte = 0;
  while (::write(wake[1], &byte, 1) < 0 && errno == EINTR) {
  }
  acceptor.join();
  std::unique_lock<std::mutex> hold(lock);
  // SHUT_RD wakes a connection still waiting for its request, and lets a reply being sent finish.
  for (int fd : open) ::shutdown(fd, SHUT_RD);
  idle.wait(hold, [this] { return open.empty(); });
  ::close(listener);
  ::close(wake[0]);
  ::close(wake[1]);
}

void Server::accepting() {
  pollfd watched[2] = {{listener, POLLIN, 0}, {wake[0], POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0 && errno != EINTR) return;
    if (watched[1].revents != 0) return;  // stop() was called
    if (watched[0].revents == 0) continue;
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) breathe();  // out of descriptors: let some close
      continue;                                           // or the client gave up already
    }
    std::lock_guard<std::mutex> hold(lock);
    if (open.size() >= mostConnections) {
      ::send(fd, busyReply.data(), busyReply.size(), quiet | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    open.insert(fd);
    try {
      std::thread([this, fd] { serve(fd); }).detach();
    } catch (const std::system_error&) {  // no thread to be had: this client goes unanswered
      open.erase(fd);
      ::close(fd);
    }
  }
}

void Server::breathe() {
  // The listener stays readable while no descriptor is free, so polling again at once would spin.
  std::unique_lock<std::mutex> hold(lock);
  idle.wait_for(hold, std::chrono::milliseconds(100));
}

void Server::serve(int fd) {
  try {
    std::string line;
    switch (request(fd, requestCap, line)) {
      case Got::line:
        whole(fd, answer(line) + "\n");
        break;
      case Got::tooLong:
        whole(fd, longReply);
        break;
      case Got::nothing:
        break;
    }
  } catch (...) {  // an exception leaving a thread ends the process; this connection just ends
  }
  finished(fd);
}

void Server::finished(int fd) {
  std::lock_guard<std::mutex> hold(lock);
  // Closed under the lock, so stop() can never shut down a descriptor number already reused.
  ::close(fd);
  open.erase(fd);
  idle.notify_all();  // the thread's last touch of the Server: stop() may return once it unlocks
}

}  // namespace demo
