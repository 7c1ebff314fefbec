// What real clients and machines do to the connector, end to end through the built binary: a
// terminal's stop and continue, non-blocking pipes, Node's lone surrogates, huge lines, and memory
// running out. Every request with an id must still get its answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/build.h"
#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"
#include "support/procfs.h"
#include "support/switchboard.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

// Stops the connector as Ctrl-Z stops a terminal's process group, then continues it as fg does.
void stopAndContinue(pid_t pid) {
  ::kill(pid, SIGSTOP);
  EXPECT_TRUE(awaitTask(pid, ""));
  ::kill(pid, SIGCONT);
}

// Whether the main thread of `pid` waits on the bridge socket: it is then carrying a call itself,
// as it does when no thread can be had for one.
bool mainThreadWaitsOnHost(pid_t pid) {
  std::string channel;
  std::ifstream("/proc/" + std::to_string(pid) + "/wchan") >> channel;
  return channel.find("unix_stream_read") != std::string::npos;
}

}  // namespace

// A stop and continue while the worker waits on the host makes its socket call fail with EINTR;
// the call must go on and bring back the host's own answer.
TEST(Field, AToolCallGoesOnAcrossAStopAndContinue) {
  struct Row {
    const char* name;
    std::string message;
    const char* waitsIn;  // where the worker waits when the connector is stopped
    bool readsLate;       // the host reads the request only after the continue
  };
  const std::vector<Row> rows = {
      {"waiting for the reply", "hi", "unix_stream_read_generic", false},
      {"sending a request larger than the socket holds", std::string(1 << 20, 'm'),
       "sock_alloc_send_pskb", true},
  };
  std::deque<Gate> resumed(rows.size());
  std::atomic<std::size_t> next{0};
  Host host([&](int fd, Host& self) {
    std::size_t row = next++;
    if (rows[row].readsLate) resumed[row].wait();
    self.record(line(fd));
    resumed[row].wait();
    say(fd, okReply(std::string("answer ") + rows[row].name));
  });
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    connector.line(
        callLine(i, "vesk_send_to_chat", {{"chat", "api"}, {"message", rows[i].message}}));
    ASSERT_TRUE(awaitTask(connector.process(), rows[i].waitsIn));
    stopAndContinue(connector.process());
    resumed[i].open();
    EXPECT_EQ(connector.response(), toolResult(i, std::string("answer ") + rows[i].name, false));
  }
  finished(connector);
}

// A connect waiting on a host whose backlog is full fails with EINTR after a stop and continue,
// leaving the socket unconnected: the connector must connect again, not give up or send on it.
TEST(Field, AConnectGoesOnAcrossAStopAndContinue) {
  Listener listener("", 0);
  int filler = connected(listener.path());  // takes the one place in the backlog
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", listener.path()}});
  connector.line(callLine(1, "vesk_list_chats"));
  ASSERT_TRUE(awaitTask(connector.process(), "unix_wait_for_peer"));
  stopAndContinue(connector.process());
  ::close(listener.incoming());  // the filler's, which frees the backlog
  pollfd waiting{listener.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&waiting, 1, 30000), 1) << "the connector gave up connecting";
  int served = listener.incoming();
  EXPECT_NE(line(served), "");
  say(served, okReply("3 chats"));
  EXPECT_EQ(connector.response(), toolResult(1, "3 chats", false));
  finished(connector);
  for (int fd : {served, filler}) ::close(fd);
}

// A client may hand over non-blocking pipes. A full standard output means "wait for the reader",
// not "the client is gone"; an empty standard input means "nothing yet", not its end.
TEST(Field, NonBlockingPipesLoseNothing) {
  const std::string big(200000, 'b');
  Host host(Host::replying(okReply(big)));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}}, {}, true);
  ASSERT_TRUE(awaitTask(connector.process(), "poll"));  // waiting for input, not gone
  constexpr int lists = 2000;
  std::thread writer([&] {
    for (int i = 0; i < lists; ++i)
      connector.line(json::serialize(json::value{{"id", i}, {"method", "tools/list"}}));
    connector.line(callLine("big", "vesk_list_chats"));
  });
  // The reader pauses until the pipe is nearly full (a line that does not fit is not written in
  // part), so the connector meets a full non-blocking pipe.
  int queued = 0;
  while (::ioctl(connector.stdoutFd(), FIONREAD, &queued) == 0 && queued < 60000)
    std::this_thread::yield();
  int answered = 0;
  bool bigWhole = false;
  for (int i = 0; i <= lists; ++i) {
    std::error_code unreadable;  // such a line counts as neither
    json::value reply =
        json::parse(connector.next().value_or("null"), unreadable, {}, parseOptions);
    if (reply.find_pointer("/result/tools", unreadable) != nullptr) ++answered;
    if (reply == toolResult("big", big, false)) bigWhole = true;
  }
  writer.join();
  EXPECT_EQ(answered, lists);
  EXPECT_TRUE(bigWhole);
  finished(connector);
}

// A Node client cuts a string inside an emoji as a lone surrogate escape: the request is served,
// and the host gets U+FFFD in its place.
TEST(Field, ALoneSurrogateIsSentAsAReplacementCharacter) {
  Host host(Host::replying(okReply("sent")));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  connector.line(R"({"id":1,"method":"tools/call","params":{"name":"vesk_send_to_chat",)"
                 R"("arguments":{"chat":"api","message":"cut emoji \ud83d"}}})");
  EXPECT_EQ(connector.response(), toolResult(1, "sent", false));
  EXPECT_EQ(parsedLine(host.requests().at(0)).at("message"), "cut emoji \xEF\xBF\xBD");
  finished(connector);
}

// A huge line costs about twice its size at the peak, the buffer it is read into, and a third time
// when its bytes must be mended into a copy; its memory goes back once a normal line follows.
// Sanitizer runtimes hold memory of their own.
TEST(Field, AHugeLineCostsAboutTwiceItsSizeAndGivesItBack) {
  if (sanitized) GTEST_SKIP() << "sanitizer runtimes keep freed memory";
  constexpr long size = 32 << 20;
  struct Row {
    const char* name;
    std::string padding;
    double most;  // times the line's size
  } rows[] = {
      {"valid", std::string(size, 'v'), 2.5},
      {"one broken byte in 64",
       [] {
         std::string text(size, 'i');
         for (std::size_t at = 0; at < text.size(); at += 64) text[at] = '\xFF';
         return text;
       }(),
       3.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Connector connector;
    connector.line(pingLine("idle"));
    ASSERT_EQ(connector.response(), pong("idle"));
    long idle = statusKb(connector.process(), "VmRSS");
    std::thread writer([&] {
      connector.line(R"({"id":"huge","method":"ping","params":{"pad":")" + row.padding + "\"}}");
      connector.line(pingLine("after"));
    });
    EXPECT_EQ(connector.response(), pong("huge"));
    EXPECT_EQ(connector.response(), pong("after"));
    writer.join();
    connector.line(pingLine("read anew"));  // once answered, the reader has read past the long line
    EXPECT_EQ(connector.response(), pong("read anew"));
    long peak = statusKb(connector.process(), "VmHWM") - idle,
         left = statusKb(connector.process(), "VmRSS") - idle;
    EXPECT_LT(peak, row.most * size / 1024) << "peak " << peak << " kB above idle";
    EXPECT_LT(left, 8192) << left << " kB above idle still resident";
    finished(connector);
  }
}

// Under an address-space limit, a line too large to hold is lost alone: nothing on standard
// error, the call in flight still answered, the next request served.
TEST(Field, ALineThatCannotBeHeldIsLostAlone) {
  if (sanitized) GTEST_SKIP() << "sanitizer runtimes reserve address space of their own";
  Gate release;
  Host host(Host::replying(okReply("in flight"), &release));
  // The limit leaves room for the connector and its call, not for a line of 256 MiB.
  long idle = idleSize();
  ASSERT_GT(idle, 0);
  std::string limit = "--as=" + std::to_string((idle + (96 << 10)) * 1024);
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}}, {"/usr/bin/prlimit", limit, "--"});
  connector.line(callLine("flight", "vesk_list_chats"));
  host.await(1);
  std::thread writer([&] {
    connector.line(R"({"id":"huge","method":"ping","params":{"pad":")" +
                   std::string(256 << 20, 'x') + "\"}}");
    connector.line(pingLine("after"));
  });
  EXPECT_EQ(connector.response(), pong("after"));
  writer.join();
  release.open();
  EXPECT_EQ(connector.response(), toolResult("flight", "in flight", false));
  finished(connector);
}

// Calls in flight under an address-space limit: threads run out, then memory, and a call whose
// memory runs out costs that call alone, which still gets the no-answer result; every call is
// answered once and the connector ends. An allocation failing while another call unwinds used to
// end the process, as did a reply holding a large array, and hundreds of calls answered at once
// with megabytes each used to wait for one another for ever; races, so some rows run several
// trials.
TEST(Field, CallsThatRunOutOfMemoryAreLostOneByOne) {
  if (sanitized) GTEST_SKIP() << "sanitizer runtimes reserve address space of their own";
  const std::string array = R"({"ok":true,"text":"t","junk":[)" + repeated("1,", 1950000) + "1]}\n";
  const std::string text = okReply(std::string(1 << 20, 'x'));
  struct Row {
    const char* name;
    int count, trials;
    long room;  // kB the limit leaves above an idle connector
    Switchboard::Respond respond;
    std::size_t shown;  // the size of each served call's text; 0 for the chat it names
  } rows[] = {
      {"thousands of small replies", 2000, 4, 160 << 10, chatEcho, 0},
      {"replies holding large arrays", 16, 2, 96 << 10, [&](const std::string&) { return array; },
       1},
      {"hundreds answered at once with megabytes", 300, 1, 160 << 10,
       [&](const std::string&) { return text; }, 1 << 20},
  };
  long idle = idleSize();
  ASSERT_GT(idle, 0);
  for (const Row& row : rows) {
    std::string limit = "--as=" + std::to_string((idle + row.room) * 1024);
    for (int trial = 0; trial < row.trials; ++trial) {
      SCOPED_TRACE(row.name + (" trial " + std::to_string(trial)));
      Switchboard host(row.respond, true);
      Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}},
                          {"/usr/bin/prlimit", limit, "--"});
      ::fcntl(connector.stdoutFd(), F_SETPIPE_SZ, 1 << 20);  // room for every answer until the end
      std::thread writer([&] { connector.send(echoCalls(0, row.count)); });
      // The host holds every call until all have come, or until the main thread carries one itself
      // for want of a thread: as many are in flight then as the limit allows.
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!host.await(row.count, std::chrono::milliseconds(10)) &&
             !mainThreadWaitsOnHost(connector.process()) &&
             std::chrono::steady_clock::now() < deadline) {
      }
      host.release();
      writer.join();
      connector.line(pingLine("after"));
      std::map<std::string, int> seen;  // by the id's JSON text
      int lost = 0;
      for (const json::value& answer : parsed(finished(connector))) {  // exit 0, nothing on stderr
        const json::value& id = answer.at("id");
        EXPECT_EQ(++seen[canonical(id)], 1) << "answered twice: " << id;
        if (id == "after") {
          EXPECT_EQ(answer, pong("after"));
          continue;
        }
        const json::value& shown = answer.at("result").at("content").at(0).at("text");
        bool served = row.shown == 0 ? answer == echoed(json::value_to<int>(id))
                                     : shown.as_string().size() == row.shown;
        if (!served) {
          EXPECT_EQ(answer, toolResult(id, noAnswer, true));
          ++lost;
        }
      }
      EXPECT_EQ(seen.size(), static_cast<std::size_t>(row.count) + 1);  // every call answered
      RecordProperty(row.name + ("/lost" + std::to_string(trial)), lost);
    }
  }
}
