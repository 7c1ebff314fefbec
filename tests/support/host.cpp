#include "support/host.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <boost/json.hpp>

#include "support/calls.h"

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

std::string okReply(const std::string& text) {
  return boost::json::serialize(boost::json::value{{"ok", true}, {"text", text}}) + "\n";
}

std::string chatEcho(const std::string& request) {
  boost::json::value asked = parsedLine(request);
  // A request that names no chat shows null: a throw would escape the host thread and end the run.
  const boost::json::value* chat =
      asked.is_object() ? asked.as_object().if_contains("chat") : nullptr;
  boost::json::value reply = {{"ok", true}, {"text", chat ? *chat : nullptr}};
  return boost::json::serialize(reply) + "\n";
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

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) throw std::runtime_error("too long a path: " + path);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

int connected(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = addressOf(path);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot connect to " + path);
  }
  return fd;
}

Listener::Listener(std::string path, int backlog) {
  if (path.empty()) path = folder.emplace().path + "/bridge.sock";
  where = std::move(path);
  sockaddr_un address = addressOf(where);
  listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, backlog) != 0) {
    ::close(listener);
    throw std::runtime_error("cannot listen on " + where);
  }
}

Listener::~Listener() {
  ::close(listener);
  ::unlink(where.c_str());
}

int Listener::incoming() const {
  return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void Listener::stop() const {
  ::shutdown(listener, SHUT_RDWR);
}

Host::Script Host::answering(Respond respond, Gate* release) {
  return [respond = std::move(respond), release](int fd, Host& host) {
    std::string request = line(fd);
    host.record(request);
    if (release != nullptr) release->wait();
    say(fd, respond(request));
  };
}

Host::Script Host::replying(std::string reply, Gate* release) {
  return answering([reply](const std::string&) { return reply; }, release);
}

Host::Script Host::inTurn(std::vector<Script> scripts) {
  auto next = std::make_shared<std::atomic<std::size_t>>(0);
  return [scripts = std::move(scripts), next](int fd, Host& host) {
    std::size_t index = (*next)++;
    if (index < scripts.size()) scripts[index](fd, host);
  };
}

Host::Host(Script script, std::string path) : script(std::move(script)), listener(std::move(path)) {
  acceptor = std::thread([this] { serve(); });
}

Host::~Host() {
  listener.stop();  // wakes the acceptor
  acceptor.join();
  for (std::thread& worker : workers) worker.join();
}

void Host::serve() {
  for (;;) {
    int fd = listener.incoming();
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
