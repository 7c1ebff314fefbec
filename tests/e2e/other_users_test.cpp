// Hosts of other users through the built connector: who listens on the bridge socket, as the
// kernel tells it, decides whether a request leaves at all. Only root can be other users, so the
// tests skip elsewhere.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"
#include "support/process.h"

using namespace testing_support;

namespace {

const std::string otherUser =
    "The Vesk bridge socket belongs to another user, so nothing was sent.";

struct User {
  uid_t uid;
  gid_t gid;
};

const User root{0, 0};

// `nobody`, when this process is root and may become it.
std::optional<User> nobody() {
  const passwd* entry = ::getpwnam("nobody");
  if (::geteuid() != 0 || entry == nullptr) return std::nullopt;
  return User{entry->pw_uid, entry->pw_gid};
}

const char* const setpriv = "/usr/bin/setpriv";  // util-linux's, on every Debian

// The launcher that runs the connector as `user`.
std::vector<std::string> as(User user) {
  if (user.uid == 0) return {};
  return {setpriv, "--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
          "--clear-groups"};
}

// Serves in the child: becomes `user`, then listens, since the kernel names the user who listened,
// not the socket file's owner. Answers each request line with `reply` and reports each connection
// with one letter: `r` when it brought bytes, `-` when it brought none. System calls only, as in
// any child forked from a threaded process.
[[noreturn]] void lodge(User user, const sockaddr_un& address, const std::string& reply,
                        int report) {
  if (user.uid != 0 &&
      (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)) {
    ::_exit(1);
  }
  ::umask(0);  // so that a connector of any user may connect
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 8) != 0 || ::write(report, "r", 1) != 1) {
    ::_exit(1);
  }
  for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0; ::close(fd)) {
    char buffer[4096];
    const char* seen = "-";
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      seen = "r";
      if (buffer[n - 1] == '\n') break;  // the whole request
    }
    if (*seen == 'r' && ::write(fd, reply.data(), reply.size()) < 0) ::_exit(1);
    if (::write(report, seen, 1) != 1) ::_exit(1);
  }
  ::_exit(0);
}

// A host in a process of its own, running as `user`, on a socket in a folder of that user's.
class Lodger {
 public:
  explicit Lodger(User user) : path(folder.path + "/bridge.sock") {
    sockaddr_un address = addressOf(path);
    std::string reply = okReply("served");
    int ends[2];
    if (::chown(folder.path.c_str(), user.uid, user.gid) != 0 ||
        ::chmod(folder.path.c_str(), 0755) != 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
      throw std::runtime_error("cannot prepare " + folder.path);
    }
    pid = ::fork();
    if (pid == 0) {
      ::close(ends[0]);
      lodge(user, address, reply, ends[1]);
    }
    ::close(ends[1]);
    reports = ends[0];
    std::string ready;
    if (pid < 0 || !readMore(reports, ready)) {
      end();
      throw std::runtime_error("no host on " + path);
    }
  }
  ~Lodger() { end(); }

  // The letters of the first `n` connections, once the host has reported them (or has gone).
  std::string received(std::size_t n) {
    while (reported.size() < n && readMore(reports, reported)) {
    }
    return reported;
  }

  Folder folder;
  const std::string path;

 private:
  void end() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ::close(reports);
  }

  pid_t pid = -1;
  int reports = -1;
  std::string reported;
};

}  // namespace

TEST(OtherUsers, AHostOfAnotherUserIsSentNothing) {
  std::optional<User> stranger = nobody();
  if (!stranger) GTEST_SKIP() << "only root can run a host as the user nobody";
  Lodger host(*stranger);
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path}});
  connector.line(callLine(1, "vesk_send_to_chat", {{"chat", "api"}, {"message", "private"}}));
  EXPECT_EQ(connector.response(), toolResult(1, otherUser, true));
  EXPECT_EQ(host.received(1), "-");  // one connection, closed on it without a byte
  finished(connector);
}

TEST(OtherUsers, AHostOfTheSameUserOrRootServesEveryTool) {
  std::optional<User> user = nobody();
  if (!user) GTEST_SKIP() << "only root can run a host and the connector as the user nobody";
  if (::access(setpriv, X_OK) != 0) GTEST_SKIP() << "no " << setpriv << " to run the connector";
  Connector probe({}, {}, as(*user));
  if (int status = probe.finish(); status == 126 || status == 127) {
    GTEST_SKIP() << "the user nobody cannot run the connector where it was built: "
                 << probe.errors();
  }
  const struct {
    const char* name;
    User host, connector;
  } cases[] = {{"both root", root, root},
               {"both nobody", *user, *user},
               {"a root host, a connector of nobody's", root, *user}};
  const std::string calls[] = {
      callLine(0, "vesk_list_chats"),
      callLine(1, "vesk_send_to_chat", {{"chat", "api"}, {"message", "hi"}}),
      callLine(2, "vesk_read_chat", {{"chat", "api"}}),
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Lodger host(c.host);
    Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path}}, as(c.connector));
    for (int id = 0; id < 3; ++id) {
      connector.line(calls[id]);
      EXPECT_EQ(connector.response(), toolResult(id, "served", false));
    }
    EXPECT_EQ(host.received(3), "rrr");
    finished(connector);
  }
}
