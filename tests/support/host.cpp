#include "support/host.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

void Gate::open() {
  std::lock_guard<std::mutex> hold(lock);
  isOpen = true;
  opened.notify_all();
}

void Gate::wait() {
  std::unique_lock<std::mutex> hold(lock);
  opened.wait(hold, [this] { return isOpen; });
}

std::string line(int fd) {
  std::string text;
  char c;
  while (::read(fd, &c, 1) == 1) {
    text += c;
    if (c == '\n') break;
  }
  return text;
}

bool say(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

Host::Script Host::replying(std::string reply) {
  return [reply](int fd, Host& host) {
    host.record(line(fd));
    say(fd, reply);
  };
}

Folder::Folder() {
  char name[] = "/tmp/vesk-test-XXXXXX";
  if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
  path = name;
}

Folder::~Folder() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

Host::Host(Script script, std::string path) : script(std::move(script)) {
  if (path.empty()) {
    char name[] = "/tmp/vesk-host-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
    folder = name;
    path = folder + "/bridge.sock";
  }
  where = path;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, where.data(), where.size());
  listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1024) != 0) {
    throw std::runtime_error("cannot listen on " + where);
  }
  acceptor = std::thread([this] { serve(); });
}

Host::~Host() {
  ::shutdown(listener, SHUT_RDWR);  // wakes the acceptor
  acceptor.join();
  ::close(listener);
  for (std::thread& worker : workers) worker.join();
  ::unlink(where.c_str());
  if (!folder.empty()) ::rmdir(folder.c_str());
}

void Host::serve() {
  for (;;) {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    std::lock_guard<std::mutex> hold(lock);
    ++accepted;
    workers.emplace_back([this, fd] {
      script(fd, *this);
      ::close(fd);
    });
  }
}

void Host::record(std::string request) {
  std::lock_guard<std::mutex> hold(lock);
  received.push_back(std::move(request));
  recorded.notify_all();
}

std::vector<std::string> Host::requests() {
  std::lock_guard<std::mutex> hold(lock);
  return received;
}

int Host::connections() {
  std::lock_guard<std::mutex> hold(lock);
  return accepted;
}

void Host::await(std::size_t n) {
  std::unique_lock<std::mutex> hold(lock);
  recorded.wait(hold, [&] { return received.size() >= n; });
}

}  // namespace testing_support
