#include "support/switchboard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testing_support {

namespace {

void nonblocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

Switchboard::Switchboard(Respond respond, bool holding)
    : respond(std::move(respond)), held(holding) {
  if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  nonblocking(listener.fd());
  server = std::thread([this] { serve(); });
}

Switchboard::~Switchboard() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stop = true;
  }
  (void)!::write(wake[1], "s", 1);
  server.join();
  for (Connection& c : connections) ::close(c.fd);
  for (int fd : wake) ::close(fd);
}

void Switchboard::await(std::size_t n) {
  std::unique_lock<std::mutex> hold(lock);
  arrived.wait(hold, [&] { return requests >= n; });
}

bool Switchboard::await(std::size_t n, std::chrono::milliseconds patience) {
  std::unique_lock<std::mutex> hold(lock);
  return arrived.wait_for(hold, patience, [&] { return requests >= n; });
}

void Switchboard::release() {
  {
    std::lock_guard<std::mutex> hold(lock);
    held = false;
  }
  (void)!::write(wake[1], "r", 1);
}

std::size_t Switchboard::answered() {
  std::lock_guard<std::mutex> hold(lock);
  return sent;
}

bool Switchboard::stopping() {
  std::lock_guard<std::mutex> hold(lock);
  return stop;
}

void Switchboard::serve() {
  std::vector<pollfd> watch;
  while (!stopping()) {
    watch.assign({{wake[0], POLLIN, 0}, {listener.fd(), POLLIN, 0}});
    for (const Connection& c : connections) {
      // A held request needs no events; hang-ups and errors are reported all the same.
      short events = c.ready ? POLLOUT : c.complete ? 0 : POLLIN;
      watch.push_back({c.fd, events, 0});
    }
    if (::poll(watch.data(), watch.size(), -1) < 0 && errno != EINTR) return;
    char drained[64];
    if (watch[0].revents != 0) (void)!::read(wake[0], drained, sizeof drained);
    bool releasing;
    {
      std::lock_guard<std::mutex> hold(lock);
      releasing = !held;
    }
    std::vector<Connection> kept;
    for (std::size_t i = 0; i < connections.size(); ++i) {
      Connection& c = connections[i];
      bool keep = true;
      if (!c.complete && watch[i + 2].revents != 0) keep = receive(c);
      if (keep && c.complete && !c.ready && releasing) reply(c);
      if (keep && c.ready) keep = transmit(c);
      if (keep) {
        kept.push_back(std::move(c));
      } else {
        ::close(c.fd);
      }
    }
    connections = std::move(kept);
    if (watch[1].revents != 0) {
      while (admit()) {
      }
    }
  }
}

bool Switchboard::admit() {
  int fd = listener.incoming();
  if (fd < 0) return false;  // no more waiting, for now
  nonblocking(fd);
  connections.push_back({fd, "", "", false, false});
  return true;
}

bool Switchboard::receive(Connection& c) {
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(c.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN;  // all read for now, or the peer failed
    if (n == 0) return false;           // hung up before the line ended
    c.in.append(buffer, static_cast<std::size_t>(n));
    if (c.in.back() != '\n') continue;
    c.complete = true;
    std::lock_guard<std::mutex> hold(lock);
    ++requests;
    arrived.notify_all();
    return true;
  }
}

void Switchboard::reply(Connection& c) {
  c.out = respond(c.in);
  c.ready = true;
}

bool Switchboard::transmit(Connection& c) {
  while (!c.out.empty()) {
    ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN;  // the peer's buffer is full: wait for POLLOUT
    c.out.erase(0, static_cast<std::size_t>(n));
  }
  std::lock_guard<std::mutex> hold(lock);
  ++sent;
  return false;  // sent whole: hang up
}

}  // namespace testing_support
