// vesk-demo-host: plays the Vesk application's side of the bridge socket with a few chats held in
// memory, so that the connector can be tried and tested without the application.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "chats.h"
#include "room.h"
#include "server.h"

namespace {

constexpr const char* usage =
    "usage: vesk-demo-host [--chats FILE] [SOCKET]\n"
    "Listens on SOCKET, or else on $VESK_BRIDGE_SOCKET, until SIGINT or SIGTERM.\n"
    "--chats FILE: the chats to offer, a JSON array, instead of the built-in samples.\n";

struct Options {
  std::string socket;
  std::string chats;  // a file, or empty for the samples
};

int complain(const std::string& problem, int status) {
  std::cerr << "vesk-demo-host: " << problem << "\n";
  return status;
}

// The options of the command line; nothing when they make no sense, after saying why.
std::optional<Options> options(const std::vector<std::string>& args) {
  Options chosen;
  bool named = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--chats" && i + 1 < args.size()) {
      chosen.chats = args[++i];
    } else if (args[i].starts_with("-") || named) {
      std::cerr << usage;
      return std::nullopt;
    } else {
      chosen.socket = args[i];
      named = true;
    }
  }
  const char* variable = std::getenv("VESK_BRIDGE_SOCKET");
  if (!named && variable != nullptr) chosen.socket = variable;
  if (chosen.socket.empty()) {
    std::cerr << usage;
    return std::nullopt;
  }
  return chosen;
}

std::optional<std::vector<demo::Chat>> chats(const Options& chosen) {
  if (chosen.chats.empty()) return demo::samples();
  std::string problem;
  auto loaded = demo::load(chosen.chats, problem);
  if (!loaded) complain(problem, 0);
  return loaded;
}

// Blocks SIGINT and SIGTERM in this thread and every thread started after it, so that only the
// sigwait() in main() takes them, between requests rather than in the middle of one.
sigset_t stopping() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

// Removes the socket file at `path` unless another host has put its own there meanwhile.
void unclaim(const std::string& path, const struct stat& ours) {
  struct stat now;
  if (::lstat(path.c_str(), &now) == 0 && now.st_dev == ours.st_dev && now.st_ino == ours.st_ino) {
    ::unlink(path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto chosen = options({argv + 1, argv + argc});
  if (!chosen) return 2;
  auto loaded = chats(*chosen);
  if (!loaded) return 2;
  ::signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error on its connection, no more
  sigset_t signals = stopping();
  std::string problem;
  int listener = demo::claim(chosen->socket, problem);
  if (listener < 0) return complain(problem, 1);
  struct stat ours {};
  ::lstat(chosen->socket.c_str(), &ours);
  std::size_t count = loaded->size();
  demo::Room room(std::move(*loaded));
  demo::Server server(listener, [&room](const std::string& line) {
    // Written as it is: every text of a reply is the host's own or was read as JSON, whose strings
    // are valid UTF-8, so the reply is valid JSON.
    return boost::json::serialize(room.respond(line));
  });
  std::cerr << "vesk-demo-host: listening on " << chosen->socket << " with " << count
            << " chats; SIGINT (Ctrl-C) or SIGTERM stops it\n";
  int signal = 0;
  sigwait(&signals, &signal);
  server.stop();
  unclaim(chosen->socket, ours);
  std::cerr << "vesk-demo-host: stopped\n";
  return 0;
}
