// Hostile hosts through the built connector: each host misbehaves in one way, the tool call gets
// the reply the bridge's rules give it, and the same connector goes on serving pings and calls.
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

const char* const tool = "vesk_send_to_chat";  // every call here, since only the host differs

// Keeps the connection until the connector hangs up, so that nothing ends on the host's end of
// file.
void holdOn(int fd) {
  char sink[4096];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
}

// Returns once the connector has read every byte sent so far (or has gone).
void consumed(int fd) {
  int queued = 0;
  while (::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0) std::this_thread::yield();
}

// The connector still answers a ping, and the ping's answer is the next line it writes.
void expectServing(Connector& connector, const std::string& id) {
  connector.line(pingLine(json::value(id)));
  EXPECT_EQ(connector.response(), pong(json::value(id)));
}

// The connector's next line, which must be one whole JSON text without a raw control byte.
json::value nextAnswer(Connector& connector) {
  std::string text = connector.next().value_or("null");
  auto control = std::find_if(text.begin(), text.end(),
                              [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  EXPECT_EQ(control, text.end()) << "raw control byte in the output";
  return parsedLine(text);
}

struct Turn {
  const char* name;
  Host::Script script;   // the host's side of call i
  json::value expected;  // the tool result of call i
};

// Each turn's script in turn, all against one connector: call i gets its answer, and a ping after
// it is still served.
void play(const std::vector<Turn>& turns) {
  std::vector<Host::Script> scripts;
  for (const Turn& turn : turns) scripts.push_back(turn.script);
  Host host(Host::inTurn(std::move(scripts)));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  for (std::size_t i = 0; i < turns.size(); ++i) {
    SCOPED_TRACE(turns[i].name);
    connector.line(callLine(static_cast<int>(i), tool));
    EXPECT_EQ(nextAnswer(connector), turns[i].expected);
    expectServing(connector, "after " + std::string(turns[i].name));
  }
  finished(connector);
}

struct Case {
  const char* name;
  std::string reply;     // sent after the request has been read; the host then holds the connection
  json::value expected;  // the tool result
};

// play() with hosts that each send one reply whole.
void playAll(const std::vector<Case>& cases) {
  std::vector<Turn> turns;
  for (const Case& c : cases) {
    auto script = [reply = c.reply](int fd, Host& host) {
      host.record(line(fd));
      say(fd, reply);
      holdOn(fd);
    };
    turns.push_back({c.name, script, c.expected});
  }
  play(turns);
}

std::string nested(std::size_t depth) {
  // The object itself is the first level.
  return "{\"ok\":true,\"text\":\"deep\",\"x\":" + std::string(depth - 1, '[') +
         std::string(depth - 1, ']') + "}\n";
}

}  // namespace

// Bytes that are not UTF-8 make a reply unreadable; the escape of a lone surrogate, as a Node host
// writes a string cut inside an emoji, is read as U+FFFD.
TEST(HostileHosts, BrokenBytesInTheReplyAreNoAnswerButLoneSurrogatesAreMended) {
  using namespace std::string_literals;
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  playAll({
      {"invalid UTF-8", "{\"ok\":true,\"text\":\"bad \xC3\x28\"}\n", toolResult(0, noAnswer, true)},
      {"overlong slash", "{\"ok\":true,\"text\":\"\xC0\xAF\"}\n", toolResult(1, noAnswer, true)},
      {"surrogate as UTF-8", "{\"ok\":true,\"text\":\"\xED\xA0\x80\"}\n",
       toolResult(2, noAnswer, true)},
      {"stray byte outside text", "{\"ok\":true}\xFF\n", toolResult(3, noAnswer, true)},
      {"lone high surrogate", "{\"ok\":true,\"text\":\"\\ud800\"}\n", toolResult(4, r, false)},
      {"lone low surrogate", "{\"ok\":true,\"text\":\"a\\udc00b\"}\n",
       toolResult(5, "a" + r + "b", false)},
      {"high then no low", "{\"ok\":true,\"text\":\"\\ud800\\u0041\"}\n",
       toolResult(6, r + "A", false)},
      {"pair", "{\"ok\":true,\"text\":\"\\ud83d\\ude00\"}\n",
       toolResult(7, "\xF0\x9F\x98\x80", false)},
      {"NUL escapes", "{\"ok\":false,\"error\":\"a\\u0000b\\u0000\"}\n",
       toolResult(8, "a\0b\0"s, true)},
      {"raw NUL after the object", "{\"ok\":true,\"text\":\"a\"}\0{\"ok\":false}\n"s,
       toolResult(9, noAnswer, true)},
  });
}

TEST(HostileHosts, NestingPastTheBoundIsNoAnswer) {
  playAll({
      {"512 levels", nested(512), toolResult(0, "deep", false)},
      {"513 levels", nested(513), toolResult(1, noAnswer, true)},
      {"a million brackets", "{\"x\":" + std::string(1000000, '[') + "\n",
       toolResult(2, noAnswer, true)},
      {"100,000 levels closed", nested(100000), toolResult(3, noAnswer, true)},
  });
}

TEST(HostileHosts, MegabytesOfReplyAreCappedNotAwaited) {
  std::string text(3000000, 't');
  std::string lines;
  for (int i = 0; i < 500000; ++i) lines += "{\"ok\":true}\n";  // 6 MB of whole lines
  playAll({
      {"5 MB without a line end", "{\"ok\":true,\"text\":\"" + std::string(5000000, 'x'),
       toolResult(0, noAnswer, true)},
      {"6 MB of lines", lines, toolResult(1, noAnswer, true)},
      {"3 MB in one line", "{\"ok\":true,\"text\":\"" + text + "\"}\n", toolResult(2, text, false)},
      {"one object past the cap", "{\"ok\":true,\"text\":\"" + std::string(4100000, 'y') + "\"}\n",
       toolResult(3, noAnswer, true)},
  });
}

TEST(HostileHosts, ARawLineFeedInsideOneReadDoesNotEndTheReply) {
  // Each read asks for 65,536 bytes, so a reply that arrives in one write is read whole wherever a
  // line feed between its tokens falls: here as byte 1,024 ... 32,768, where smaller reads ended.
  const struct {
    const char* name;
    std::size_t at;
  } offsets[] = {{"1,024", 1024}, {"2,048", 2048},   {"4,096", 4096},
                 {"8,192", 8192}, {"16,384", 16384}, {"32,768", 32768}};
  std::vector<Case> cases;
  for (const auto& offset : offsets) {
    const std::string head = "{\"ok\":true,\"text\":\"";
    std::string text(offset.at - head.size() - 2, 'x');  // then the closing quote, then the LF
    cases.push_back({offset.name, head + text + "\"\n}\n",
                     toolResult(static_cast<int>(cases.size()), text, false)});
  }
  playAll(cases);
}

TEST(HostileHosts, AReplyDribbledAByteAtATimeIsReadWhole) {
  // Each byte is one read for the connector: a line end in the middle ends the reply there.
  auto dribble = [](std::string reply) {
    return [reply](int fd, Host& host) {
      host.record(line(fd));
      for (char c : reply) {
        if (!say(fd, std::string(1, c))) break;
        consumed(fd);
      }
      holdOn(fd);
    };
  };
  play({
      {"whole", dribble("{\"ok\":true,\"text\":\"slow \\u00e9\"}\n"),
       toolResult(0, "slow \xC3\xA9", false)},
      {"pretty", dribble("{\"ok\":true,\n\"text\":\"x\"}\n"), toolResult(1, noAnswer, true)},
  });
}

TEST(HostileHosts, AResetMidReplyEndsTheReplyThere) {
  // The host leaves most of the request unread and closes with a zero linger: the connector's next
  // read fails with a reset, and what came before it is all the reply there is.
  auto reset = [](std::string partial) {
    return [partial](int fd, Host& host) {
      char first;
      if (::recv(fd, &first, 1, 0) == 1) host.record(std::string(1, first));
      say(fd, partial);
      linger abrupt{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
    };  // the host's close follows
  };
  play({
      {"partial", reset("{\"ok\":true,\"te"), toolResult(0, noAnswer, true)},
      {"whole", reset("{\"ok\":true,\"text\":\"cut\"}"), toolResult(1, "cut", false)},
  });
}

TEST(HostileHosts, AHostThatNeverReadsHoldsOnlyItsOwnCall) {
  Gate hangUp;
  Host host(Host::inTurn({
      [&](int, Host& h) {
        h.record("accepted, never read");
        hangUp.wait();  // then closed with the request's bytes unread
      },
      Host::replying("{\"ok\":true,\"text\":\"meanwhile\"}\n"),
  }));
  struct Release {
    Gate& gate;
    ~Release() { gate.open(); }  // also when an assertion ends the test early
  } release{hangUp};
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  // Far more than a socket buffer holds, so the connector is stuck writing it.
  connector.line(callLine("stuck", tool, {{"chat", "c2"}, {"message", std::string(6000000, 'm')}}));
  host.await(1);
  expectServing(connector, "while stuck");
  connector.line(callLine("other", tool));
  EXPECT_EQ(nextAnswer(connector), toolResult("other", "meanwhile", false));
  hangUp.open();
  EXPECT_EQ(nextAnswer(connector), toolResult("stuck", notOpen, true));
  expectServing(connector, "after");
  finished(connector);
}
