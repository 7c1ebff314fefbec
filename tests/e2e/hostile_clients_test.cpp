// Clients that misbehave, end to end through the built connector: whatever arrives, it answers what
// it must, drops the rest, keeps serving and writes nothing but protocol lines.
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/build.h"
#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"
#include "support/switchboard.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

// Megabytes per long line: fewer under sanitizers, whose runtimes slow every byte down many times
// over; still many times the reader's 64 kB chunk.
const std::size_t mega = (sanitized ? 1 : 4) << 20;

struct Row {
  const char* name;
  std::string line;
  std::optional<json::value> answer = std::nullopt;  // what the line itself gets; none if dropped
};

// One connector over the rows' lines, each followed by a ping whose id is its row: expects each
// row's own answer, when it has one, and then that ping's, in order.
void expectWithPings(const std::vector<Row>& rows) {
  std::vector<std::string> lines;
  std::vector<json::value> expected;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    lines.insert(lines.end(), {rows[row].line, pingLine(row)});
    if (rows[row].answer) expected.push_back(*rows[row].answer);
    expected.push_back(pong(row));
  }
  EXPECT_EQ(parsed(run(lines)), expected);
}

// `bytes` random bytes, the same on every run.
std::string garbage(std::size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string text(bytes, '\0');
  for (char& c : text) c = static_cast<char>(random() & 0xFF);
  return text;
}

// `levels` nested arrays, balanced.
std::string arrays(std::size_t levels) {
  return std::string(levels, '[') + std::string(levels, ']');
}

// The host's answer: success, with the request line it received (less its LF) as the text.
std::string mirror(const std::string& request) {
  json::value reply = {{"ok", true}, {"text", request.substr(0, request.size() - 1)}};
  return json::serialize(reply) + "\n";
}

}  // namespace

TEST(HostileClient, GarbageOfAnySizeIsDroppedAndTheNextLineServed) {
  using namespace std::string_literals;
  expectWithPings({
      {"megabytes of letters", std::string(4 * mega, 'x')},
      {"random bytes", garbage(4 * mega, 7)},  // its LFs cut it into thousands of lines
      {"a NUL", "\0"s},
      {"terminal controls", "\x1b[2J\x07\x08"},
      {"a NUL in the method", "{\"id\":1,\"method\":\"pi\0ng\"}"s},
      {"a NUL after the object", "{\"id\":1,\"method\":\"ping\"}\0"s},
      {"a NUL before the object", "\0{\"id\":1,\"method\":\"ping\"}"s},

  });
}

TEST(HostileClient, RequestsOfManyMegabytesAreServedWhole) {
  const std::string big(2 * mega, 'i');
  const std::string broken = repeated("\xFF", mega);
  const std::string replaced = repeated("\xEF\xBF\xBD", mega);  // one U+FFFD a byte
  expectWithPings({
      {"a long id", R"({"id":")" + big + R"(","method":"ping"})",
       response(json::value(big), json::object())},
      {"megabytes of invalid UTF-8 in the method", R"({"id":1,"method":")" + broken + "\"}",
       errorResponse(1, -32601, "Method not found: " + replaced)},
      {"a long params object", R"({"id":2,"method":"ping","params":{"pad":")" + big + "\"}}",
       response(2, json::object())},
  });
}

TEST(HostileClient, NestingPastTheBoundIsDroppedHoweverDeep) {
  const std::size_t million = 1000000;
  expectWithPings({
      {"a million arrays in the id", R"({"method":"ping","id":)" + arrays(million) + "}"},
      {"a million objects in params", R"({"id":1,"method":"ping","params":)" +
                                          repeated(R"({"a":)", million) +
                                          std::string(million, '}') + "}"},
      {"a million brackets never closed",
       R"({"id":1,"method":"ping","params":)" + std::string(million, '[')},
      {"a million brackets inside a string", R"({"method":"ping","id":")" + arrays(million) + "\"}",
       response(json::value(arrays(million)), json::object())},
      {"512 levels in all", R"({"method":"ping","id":)" + arrays(511) + "}",
       response(parsedLine(arrays(511)), json::object())},
      {"513 levels in all", R"({"method":"ping","id":)" + arrays(512) + "}"},
  });
}

TEST(HostileClient, EveryJsonTypeInEveryMemberGetsItsAnswerOrDefault) {
  const std::vector<std::string> values = {"null",      "true",  "false",        "0",     "-7",
                                           "2.5",       "1e300", "\"\"",         "\"s\"", "[]",
                                           "[1,\"a\"]", "{}",    "{\"k\":\"v\"}"};
  Switchboard host(mirror);
  std::vector<std::string> lines;
  std::map<std::string, json::value> expected;  // by the id's JSON text
  auto expect = [&](const json::value& id, const std::string& line, const json::value& answer) {
    lines.push_back(line);
    expected[canonical(id)] = answer;
  };
  for (std::size_t k = 0; k < values.size(); ++k) {
    const std::string& v = values[k];
    json::value value = parsedLine(v);
    std::string given = value.is_string() ? json::value_to<std::string>(value) : "";
    auto id = [&](const char* member) {
      return json::value(std::string(member) + "-" + std::to_string(k));
    };
    // A request line with `member`'s id opens so; `v` goes into the rest as written, so that the
    // connector reads each number as its text has it (the serializer would write 2.5 as 2.5E0).
    auto opening = [&](const char* member) { return R"({"id":)" + json::serialize(id(member)); };
    // A tool call with `value` in one member of `arguments`, or as `arguments`: the mirror shows
    // the bridge request it became, whose members the connector writes in key order.
    auto call = [&](const char* member, const char* tool, const std::string& arguments,
                    json::object sent) {
      sent["from"] = "me";
      expect(id(member),
             opening(member) + R"(,"jsonrpc":"2.0","method":"tools/call","params":{"name":")" +
                 tool + R"(","arguments":)" + arguments + "}}",
             toolResult(id(member), canonical(sent), false));
    };
    expect(value, R"({"method":"ping","id":)" + v + "}", response(value, json::object()));
    expect(id("method"), opening("method") + R"(,"method":)" + v + "}",
           errorResponse(id("method"), -32601, "Method not found: " + given));
    json::value version =
        value.is_string() ? value : json::value("2025-06-18");  // only it is checked
    expect(id("version"),
           opening("version") + R"(,"method":"initialize","params":{"protocolVersion":)" + v + "}}",
           version);
    expect(id("params"), opening("params") + R"(,"method":"tools/call","params":)" + v + "}",
           errorResponse(id("params"), -32602, "Unknown tool: "));
    expect(
        id("name"),
        opening("name") + R"(,"jsonrpc":"2.0","method":"tools/call","params":{"name":)" + v + "}}",
        errorResponse(id("name"), -32602, "Unknown tool: " + given));
    call("arguments", "vesk_send_to_chat", v, {{"op", "send"}, {"chat", ""}, {"message", ""}});
    call("chat", "vesk_send_to_chat", R"({"chat":)" + v + R"(,"message":"m"})",
         {{"op", "send"}, {"chat", given}, {"message", "m"}});
    call("message", "vesk_send_to_chat", R"({"chat":"c","message":)" + v + "}",
         {{"op", "send"}, {"chat", "c"}, {"message", given}});
    json::value count = value.is_int64() || value.is_uint64() ? value : json::value(6);
    call("last_n", "vesk_read_chat", R"({"chat":"c","last_n":)" + v + "}",
         {{"op", "read"}, {"chat", "c"}, {"last_n", count}});
  }
  std::map<std::string, int> seen;
  for (const json::value& answer :
       parsed(run(lines, {"--chat", "me"}, {{"VESK_BRIDGE_SOCKET", host.path()}}))) {
    std::string key = canonical(answer.at("id"));
    SCOPED_TRACE(key);
    ASSERT_TRUE(expected.count(key));
    EXPECT_EQ(++seen[key], 1);
    if (key.find("version") != std::string::npos) {
      EXPECT_EQ(answer.at("result").at("protocolVersion"), expected[key]);
    } else {
      EXPECT_EQ(answer, expected[key]);
    }
  }
  EXPECT_EQ(seen.size(), expected.size());
}

TEST(HostileClient, PipelinedRequestsAreAllAnsweredWhileTheClientStillWrites) {
  // Far more answers than a pipe holds: the connector blocks on its output until the client reads,
  // and the client reads on a thread of its own while it writes (run() does so).
  const int count = 3000;
  Switchboard host([](const std::string&) { return std::string("{\"ok\":true}\n"); });
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    const char* methods[] = {"ping", "tools/list"};
    lines.push_back(i % 3 == 2
                        ? callLine(i, "vesk_list_chats")
                        : json::serialize(json::value{{"id", i}, {"method", methods[i % 3]}}));
  }
  std::vector<json::value> answers = parsed(run(lines, {}, {{"VESK_BRIDGE_SOCKET", host.path()}}));
  ASSERT_EQ(answers.size(), static_cast<std::size_t>(count));
  std::vector<int> mainThread;  // answered on the main thread, so in the order of their requests
  std::map<int, int> seen;
  for (const json::value& answer : answers) {
    int id = json::value_to<int>(answer.at("id"));
    ++seen[id];
    if (id % 3 == 2) {
      EXPECT_EQ(answer, toolResult(id, "Done.", false));
    } else {
      mainThread.push_back(id);
      // The catalogue, or ping's {}.
      EXPECT_EQ(answer.at("result").as_object().size(), id % 3 == 1 ? 1u : 0u);
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
  EXPECT_TRUE(std::is_sorted(mainThread.begin(), mainThread.end()));
}

TEST(HostileClient, InputMayEndAtAnyPointOfACall) {
  const std::string call = callLine("c", "vesk_list_chats");
  const json::value done = toolResult("c", "Done.", false);
  {
    SCOPED_TRACE("before the host accepted the connection");
    Listener listener("", 1);
    Connector connector({}, {{"VESK_BRIDGE_SOCKET", listener.path()}});
    connector.line(call);
    connector.hangup();
    int fd = listener.incoming();  // only now, after the input has ended
    line(fd);
    say(fd, "{\"ok\":true}\n");
    ::close(fd);
    EXPECT_EQ(parsed(finished(connector)), std::vector<json::value>{done});
  }
  {
    SCOPED_TRACE("while the host holds the request");
    Gate release;
    Host host(Host::replying("{\"ok\":true}\n", &release));
    Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
    connector.line(call);
    host.await(1);
    connector.hangup();
    release.open();
    EXPECT_EQ(parsed(finished(connector)), std::vector<json::value>{done});
  }
  {
    SCOPED_TRACE("after the answer, and in the middle of the next request");
    Host host(Host::replying("{\"ok\":true}\n"));
    Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
    connector.line(call);
    EXPECT_EQ(connector.response(), done);
    connector.send(call.substr(0, call.size() / 2));  // a last line cut short is no request
    EXPECT_EQ(finished(connector), "");
    EXPECT_EQ(host.connections(), 1);
  }
}
