#include "support/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

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

Child::Child(std::vector<std::string> argv, const Environment& changes,
             std::array<int, 3> streams) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  for (int target = 0; target < 3; ++target) {
    if (streams[target] >= 0) ::posix_spawn_file_actions_adddup2(&actions, streams[target], target);
  }
  // A test process may ignore SIGPIPE; the programs under test must meet it as they would in use.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> env = environment(changes);
  std::vector<char*> args = pointers(argv), envp = pointers(env);
  int failed =
      ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    pid = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

Child::~Child() {
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
}

void Child::signal(int number) const {
  if (pid > 0) ::kill(pid, number);
}

int Child::wait() {
  if (pid <= 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool readMore(int fd, std::string& text) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, 30000) <= 0) return false;
  char buffer[65536];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  text.append(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace testing_support
