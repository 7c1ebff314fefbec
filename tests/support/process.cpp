#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace testing_support {

namespace {

std::vector<std::string> environment(const Environment& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (changes.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) entries.push_back(name + "=" + *value);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

Connector::Connector(std::vector<std::string> args, const Environment& changes,
                     std::vector<std::string> launcher, bool nonblocking) {
  char name[] = "/tmp/vesk-stderr-XXXXXX";
  int errors = ::mkstemp(name);
  errorFile = name;
  int in[2], out[2];
  if (errors < 0 || ::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
  if (nonblocking) {
    for (int fd : {in[0], out[1]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, errors, 2);
  for (int fd : {in[0], in[1], out[0], out[1], errors}) ::posix_spawn_file_actions_addclose(&actions, fd);
  args.insert(args.begin(), CONNECTOR);
  args.insert(args.begin(), launcher.begin(), launcher.end());
  std::vector<std::string> env = environment(changes);
  std::vector<char*> argv = pointers(args), envp = pointers(env);
  // The child starts with SIGPIPE at its default, as a client starts it, although this process
  // ignores it.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  int failed = ::posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  for (int fd : {in[0], out[1], errors}) ::close(fd);
  if (failed != 0) throw std::runtime_error("spawn");
  input = in[1];
  output = out[0];
  // The tests write to a child that may have closed its input; that must fail, not kill us.
  ::signal(SIGPIPE, SIG_IGN);
}

Connector::~Connector() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  if (input >= 0) ::close(input);
  if (output >= 0) ::close(output);
  ::unlink(errorFile.c_str());
}

void Connector::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(input, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Connector::line(std::string_view text) {
  send(std::string(text) + "\n");
}

std::optional<std::string> Connector::next() {
  for (;;) {
    std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string text = pending.substr(0, end);
      pending.erase(0, end + 1);
      return text;
    }
    // A generous bound: a test that hangs should fail, not stall the suite.
    pollfd ready{output, POLLIN, 0};
    if (::poll(&ready, 1, 30000) <= 0) return std::nullopt;
    char buffer[65536];
    ssize_t n = ::read(output, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

void Connector::hangup() {
  if (input >= 0) ::close(input);
  input = -1;
}

int Connector::finish() {
  hangup();
  return drain();
}

int Connector::drain() {
  remainder = pending;
  pending.clear();
  char buffer[65536];
  for (;;) {
    // A connector that never ends is a failure to report, not a suite that hangs.
    pollfd ready{output, POLLIN, 0};
    if (::poll(&ready, 1, 30000) <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    ssize_t n = ::read(output, buffer, sizeof buffer);
    if (n <= 0) break;
    remainder.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Connector::errors() const {
  std::ifstream file(errorFile, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string run(const std::vector<std::string>& lines, std::vector<std::string> args, const Environment& changes) {
  Connector connector(std::move(args), changes);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  // Written from a thread of its own, so that a large input cannot block on unread output.
  std::thread writer([&] {
    connector.send(text);
    connector.hangup();
  });
  int status = connector.drain();
  writer.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(connector.errors(), "");
  return connector.rest();
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace testing_support
