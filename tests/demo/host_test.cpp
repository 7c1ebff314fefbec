// The built demo host as a process: several connections at once, stopping, and the socket path.
#include "support/host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/process.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

// The demo host as a child process whose standard error the test reads.
class Running {
 public:
  // Starts the host with `args`; `socket` becomes VESK_BRIDGE_SOCKET, or is unset when empty.
  explicit Running(std::vector<std::string> args, const std::string& socket = "") {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    errors = ends[0];
    args.insert(args.begin(), DEMO_HOST);
    Environment changes = {{"VESK_BRIDGE_SOCKET", std::nullopt}};
    if (!socket.empty()) changes["VESK_BRIDGE_SOCKET"] = socket;
    child.emplace(std::move(args), changes, std::array<int, 3>{-1, -1, ends[1]});
    ::close(ends[1]);
  }

  ~Running() {
    child.reset();
    ::close(errors);
  }

  // Waits for the host to say it listens, or to end; true when it listens.
  bool ready() {
    for (;;) {
      if (said.find("listening on") != std::string::npos) return true;
      if (!readMore(errors, said)) return false;
    }
  }

  // Sends `signal` (none: only waits), waits for the host to end and returns its exit status.
  int stop(int signal = 0) {
    if (signal != 0) child->signal(signal);
    while (readMore(errors, said)) {
    }
    return child->wait();
  }

  std::string said;  // its standard error so far

 private:
  std::optional<Child> child;
  int errors = -1;
};

// A reply line, parsed; an empty object when it is not one, so that a check fails instead of a
// client thread throwing.
json::object replyOf(const std::string& text) {
  json::error_code failed;
  json::value reply = json::parse(text, failed);
  json::object* fields = reply.if_object();
  return failed || fields == nullptr ? json::object() : std::move(*fields);
}

// One whole exchange: the reply to `request`, parsed.
json::object roundTrip(const std::string& path, const json::object& request) {
  int fd = connected(path);
  say(fd, json::serialize(request) + "\n");
  json::object reply = replyOf(line(fd));
  ::close(fd);
  return reply;
}

bool exists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

const json::object list = {{"op", "list"}, {"from", "web"}};

}  // namespace

TEST(DemoHost, ServesSeveralConnectionsAtOnce) {
  Folder folder;
  std::string path = folder.path + "/bridge.sock";
  Running host({path});
  ASSERT_TRUE(host.ready()) << host.said;
  // A client still in the middle of its request holds nobody else up.
  int slow = connected(path);
  say(slow, R"({"op":"read","from":"web",)");
  std::vector<std::thread> clients;
  std::vector<json::object> replies(8);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    clients.emplace_back([&, i] {
      replies[i] = roundTrip(path, {{"op", "send"},
                                    {"from", "web"},
                                    {"chat", "docs"},
                                    {"message", "note " + std::to_string(i)}});
    });
  }
  for (std::thread& client : clients) client.join();
  for (json::object& reply : replies) EXPECT_EQ(reply["ok"], true) << reply;
  say(slow, "\"chat\":\"docs\",\"last_n\":20}\n");
  json::object history = replyOf(line(slow));
  ::close(slow);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    EXPECT_NE(history["text"].as_string().find("] note " + std::to_string(i)), json::string::npos)
        << history;
  }
  EXPECT_EQ(host.stop(SIGTERM), 0);
}

TEST(DemoHost, StopsCleanlyOnSignalsAndRemovesItsSocket) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    Folder folder;
    std::string path = folder.path + "/bridge.sock";
    Running host({path});
    ASSERT_TRUE(host.ready()) << host.said;
    int waiting = connected(path);  // has sent nothing yet: must not hold the host up
    EXPECT_EQ(host.stop(signal), 0);
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(line(waiting), "");  // cut short, with no reply
    ::close(waiting);
    EXPECT_TRUE(host.said.ends_with("\nvesk-demo-host: stopped\n")) << host.said;
  }
}

TEST(DemoHost, ReplacesAStaleSocketFile) {
  Folder folder;
  std::string path = folder.path + "/bridge.sock";
  int left = ::socket(AF_UNIX, SOCK_STREAM, 0);  // bound, then gone: what a crashed host leaves
  sockaddr_un address = addressOf(path);
  ASSERT_EQ(::bind(left, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(left);
  ASSERT_TRUE(exists(path));
  Running host({}, path);  // the path from the environment this time
  ASSERT_TRUE(host.ready()) << host.said;
  EXPECT_EQ(roundTrip(path, list)["ok"], true);
  EXPECT_EQ(host.stop(SIGTERM), 0);
}

TEST(DemoHost, RefusesAPathItMustNotTake) {
  Folder folder;
  std::string live = folder.path + "/live.sock", plain = folder.path + "/plain.txt";
  Running first({live});
  ASSERT_TRUE(first.ready()) << first.said;
  std::ofstream(plain) << "keep me";
  std::string tooLong = "/tmp/" + std::string(103, 'x');  // 108 bytes, one past what fits
  struct Case {
    std::string path, said;
  } cases[] = {
      {live, "a host is already listening on " + live},
      {plain, plain + " exists and is not a socket; not touching it"},
      {tooLong, "the socket path is longer than 107 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Running second({c.path});
    EXPECT_EQ(second.stop(), 1);
    EXPECT_EQ(second.said, "vesk-demo-host: " + c.said + "\n");
  }
  EXPECT_EQ(roundTrip(live, list)["ok"], true);  // the first host is untouched
  std::ifstream kept(plain);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  EXPECT_EQ(first.stop(SIGTERM), 0);
}

TEST(DemoHost, ExplainsACommandLineItCannotUse) {
  Folder folder;
  std::string path = folder.path + "/bridge.sock";
  struct Case {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{}, "usage: vesk-demo-host"},
      {{"--verbose", path}, "usage: vesk-demo-host"},
      {{path, path}, "usage: vesk-demo-host"},
      {{"--chats", folder.path + "/none.json", path},
       "vesk-demo-host: cannot read " + folder.path + "/none.json\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    Running host(c.args);
    EXPECT_EQ(host.stop(), 2);
    EXPECT_TRUE(host.said.starts_with(c.said)) << host.said;
    EXPECT_FALSE(exists(path));
  }
}

TEST(DemoHost, OffersTheChatsOfAFile) {
  Folder folder;
  std::string path = folder.path + "/bridge.sock", file = folder.path + "/chats.json";
  std::ofstream(file) << R"([{"id":"web","name":"Web","agent":"Codex","folder":"/w"},
                            {"id":"x","name":"X","agent":"Claude","folder":"/x","busy":true}])";
  Running host({"--chats", file, path});
  ASSERT_TRUE(host.ready()) << host.said;
  EXPECT_EQ(
      roundTrip(path, list)["text"],
      "2 chats open in Vesk:\n- web: \"Web\", Codex, /w, idle (you)\n- x: \"X\", Claude, /x, busy");
  EXPECT_EQ(host.stop(SIGTERM), 0);
}
