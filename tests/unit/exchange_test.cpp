#include "bridge/exchange.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/host.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

const json::object request = {{"op", "list"}, {"from", "me"}};

// The reply's members, copied out of the document that holds them.
json::object kept(const vesk::Document& document) {
  return json::object(document.root(), json::storage_ptr());
}

json::object askAt(const std::string& path, const json::object& what = request) {
  return kept(vesk::ask(what, path));
}

json::object replyFrom(std::string_view received) {
  return kept(vesk::replyFrom(received));
}

const json::object silent = kept(vesk::silent());
const json::object unreachable = kept(vesk::unreachable());

}  // namespace

TEST(ReplyFrom, OnlyExactlyOneJsonObjectCounts) {
  // Only the members a tool result is made of are kept.
  EXPECT_EQ(replyFrom("{\"ok\":true,\"x\":[1],\"text\":\"t\"}\n"),
            (json::object{{"ok", true}, {"text", "t"}}));
  EXPECT_EQ(replyFrom("{}"), json::object());
  for (std::string bytes :
       {"", "\n", "[]\n", "\"ok\"\n", "true", "null", "{\"ok\":true}\n{\"ok\":true}\n",
        "{\"ok\":tr", "{\"text\":\"\xC3\"}"}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(replyFrom(bytes), silent);
  }
  EXPECT_EQ(replyFrom("{\"text\":\"\\udc00\"}"), (json::object{{"text", "\xEF\xBF\xBD"}}));
  // A reader that stopped at a raw NUL would take the object before it for the whole reply.
  EXPECT_EQ(replyFrom(std::string("{\"ok\":true}\0{\"ok\":false}\n", 25)), silent);
  EXPECT_EQ(silent,
            (json::object{{"ok", false}, {"error", "Vesk didn\xE2\x80\x99t answer in time."}}));
  EXPECT_EQ(unreachable.at("error").as_string().size(), 69u);
}

TEST(Ask, SendsOneLineAndReturnsTheObjectWithoutWaitingForTheHangUp) {
  Gate hangUp;
  Host host([&](int fd, Host& h) {
    h.record(line(fd));
    say(fd, "{\"ok\":true,\"text\":\"hi\"}\n");
    hangUp.wait();  // the connection stays open until the test has its answer
  });
  json::object sent = {{"op", "send"}, {"from", "me"}, {"message", "two\nlines"}};
  EXPECT_EQ(askAt(host.path(), sent), (json::object{{"ok", true}, {"text", "hi"}}));
  hangUp.open();
  std::string frame = host.requests().at(0);
  EXPECT_EQ(frame.find('\n'), frame.size() - 1);  // one LF, at the end
  EXPECT_EQ(json::parse(frame), sent);
}

TEST(Ask, ReadsTheReplyAsTheHostFramesIt) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    json::object expected;
  } cases[] = {
      {"no LF, then hang-up", {"{\"ok\":true}"}, {{"ok", true}}},
      {"split writes", {"{\"ok\":", "true,\"text\":\"a", "b\"}\n"}, {{"ok", true}, {"text", "ab"}}},
      {"hang-up without reply", {}, silent},
      {"two lines at once", {"{\"ok\":true}\n{\"ok\":true}\n"}, silent},
      {"an array", {"[1]\n"}, silent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host host([&](int fd, Host& h) {
      h.record(line(fd));
      for (const std::string& piece : c.pieces) say(fd, piece);
    });
    EXPECT_EQ(askAt(host.path()), c.expected);
  }
}

TEST(Ask, StopsAtAnLfThatEndsARead) {
  // A pretty-printed reply whose first line ends a read: the rest is never awaited.
  Gate rest;
  Host host([&](int fd, Host& h) {
    h.record(line(fd));
    say(fd, "{\n");
    rest.wait();
    say(fd, "\"ok\":true}\n");
  });
  EXPECT_EQ(askAt(host.path()), silent);
  rest.open();
}

TEST(Ask, EveryReplyComesBackWholeAndAloneWhereverItsReadsEnd) {
  // A read puts its first bytes on the stack and the rest into the thread's own room, which every
  // reply on this thread reuses: lines that end just before, at and just after where the two meet
  // and where a read ends, a long one, one cut off by a hang-up, then short ones again must each
  // come back as exactly what its own host sent.
  auto lineOf = [](std::size_t length) {  // a whole line of `length` bytes, LF included
    return "{\"ok\":true,\"text\":\"" + std::string(length - 22, 't') + "\"}\n";
  };
  auto textOf = [](std::size_t length) {
    return json::object{{"ok", true}, {"text", std::string(length - 22, 't')}};
  };
  struct Case {
    const char* name;
    std::string bytes;
    json::object expected;
  } cases[] = {
      {"1,023 bytes", lineOf(1023), textOf(1023)},
      {"1,024 bytes", lineOf(1024), textOf(1024)},
      {"1,025 bytes", lineOf(1025), textOf(1025)},
      {"65,536 bytes", lineOf(65536), textOf(65536)},
      {"65,537 bytes", lineOf(65537), textOf(65537)},
      {"cut off", lineOf(60000).substr(0, 59990), silent},
      {"short", "{\"ok\":true,\"text\":\"s\"}\n", {{"ok", true}, {"text", "s"}}},
      {"shorter, no LF", "{\"ok\":false}", {{"ok", false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Host host([&](int fd, Host& h) {
      h.record(line(fd));
      say(fd, c.bytes);
    });
    EXPECT_EQ(askAt(host.path()), c.expected);
  }
}

TEST(Ask, CapsTheReplyAtFourMillionBytes) {
  Gate done;
  Host endless([&](int fd, Host& h) {
    h.record(line(fd));
    say(fd, "{\"ok\":true,\"text\":\"" + std::string(5000000, 'x'));  // never ends its line
    done.wait();
  });
  EXPECT_EQ(askAt(endless.path()), silent);  // returns while the host still holds on
  done.open();

  std::string big(3900000, 'y');
  Host large(Host::replying("{\"ok\":true,\"text\":\"" + big + "\"}\n"));
  EXPECT_EQ(askAt(large.path())["text"], json::value(big));
}

TEST(Ask, NotOpenWhenNothingListens) {
  Folder folder;
  std::string file = folder.path + "/plain-file";
  std::ofstream(file) << "not a socket";
  for (std::string path :
       {folder.path + "/missing.sock", file, std::string("relative/missing.sock")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(askAt(path), unreachable);
  }
}

TEST(Ask, PathsAreBoundedInBytesAndNeverCut) {
  Folder folder;
  // A path of exactly the longest length, made of a folder whose name pads it out.
  const std::size_t longest = sizeof(sockaddr_un::sun_path) - 1;
  std::string padding(longest - folder.path.size() - std::string("/x/bridge.sock").size() + 1, 'p');
  std::string dir = folder.path + "/" + padding;
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  std::string path = dir + "/bridge.sock";
  ASSERT_EQ(path.size(), longest);
  Host host(Host::replying("{\"ok\":true}\n"), path);
  EXPECT_EQ(askAt(path), (json::object{{"ok", true}}));
  // One byte more, even a multi-byte character's last byte, is refused: the cut path would reach
  // this host, and it must see no connection.
  EXPECT_EQ(askAt(path + "x"), unreachable);
  EXPECT_EQ(askAt(path.substr(0, path.size() - 1) + "\xC3\xA9"), unreachable);
  EXPECT_EQ(host.connections(), 1);
}

TEST(Ask, EmptyPathReachesNoAbstractSocket) {
  // On Linux an all-zero sun_path names the abstract namespace; an empty path must not go there.
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  bool bound = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (bound) ::listen(listener, 8);
  EXPECT_EQ(askAt(""), unreachable);
  if (bound) {
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0);
  }
  ::close(listener);
}

TEST(Ask, AHostThatHangsUpMidRequestIsAFailedWrite) {
  ::signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end this test binary
  Host host([](int fd, Host&) { ::shutdown(fd, SHUT_RDWR); });
  json::object large = {{"op", "send"}, {"from", "me"}, {"message", std::string(4 << 20, 'm')}};
  EXPECT_EQ(askAt(host.path(), large), unreachable);
  ::signal(SIGPIPE, SIG_IGN);
}

TEST(Ask, ConcurrentExchangesEachGetTheirOwnReply) {
  Host host([](int fd, Host& h) {
    std::string request = line(fd);
    h.record(request);
    h.await(2);  // both connections are open at once before either is answered
    say(fd, chatEcho(request));
  });
  json::object first, second;
  std::thread one([&] { first = askAt(host.path(), {{"op", "read"}, {"chat", "one"}}); });
  std::thread two([&] { second = askAt(host.path(), {{"op", "read"}, {"chat", "two"}}); });
  one.join();
  two.join();
  EXPECT_EQ(first["text"], "one");
  EXPECT_EQ(second["text"], "two");
}
