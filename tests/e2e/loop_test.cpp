// The built connector end to end: lines in, protocol lines out, nothing on standard error.
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/calls.h"
#include "support/connector.h"

namespace json = boost::json;
using namespace testing_support;

TEST(Loop, DropsLinesThatAreNotRequestsAndServesTheNext) {
  // One connector for every line: each is dropped, and the ping after it, whose id is its row's,
  // is answered.
  std::vector<std::string> lines, expected;
  for (std::string line :
       {"", "   ", "\t", "[1]", "[{\"id\":1,\"method\":\"ping\"}]", "7", "\"s\"", "null", "{",
        "{\"id\":1,\"method\":\"ping\"", "{\"id\":1} {\"id\":2}", "{\"id\":1}x",
        "{\"method\":\"ping\"}", "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}",
        "{\"ID\":1,\"method\":\"ping\"}", "\xFF{}", "{\"id\":1,\"method\":\"ping\",}"}) {
    std::string row = std::to_string(100 + expected.size());
    lines.insert(lines.end(), {line, R"({"jsonrpc":"2.0","id":)" + row + R"(,"method":"ping"})"});
    expected.push_back(R"({"id":)" + row + R"(,"jsonrpc":"2.0","result":{}})");
  }
  EXPECT_EQ(split(run(lines)), expected);
}

TEST(Loop, AnswersUnservedMethodsWithMethodNotFound) {
  struct Case {
    std::string line, method;
  } cases[] = {
      {R"({"id":1})", ""},
      {R"({"id":1,"result":{}})", ""},  // a response sent by the client
      {R"({"id":1,"method":7})", ""},
      {R"({"id":1,"method":null})", ""},
      {R"({"id":1,"method":"Ping"})", "Ping"},
      {R"({"id":1,"method":"tools/List"})", "tools/List"},
      {R"({"id":1,"method":"resources/list"})", "resources/list"},
      {R"({"id":1,"method":" ping"})", " ping"},
      {"{\"id\":1,\"method\":\"caf\xC3\xA9\xFF\"}",
       "caf\xC3\xA9\xEF\xBF\xBD"},  // repaired, then echoed
      {"{\"id\":1,\"method\":\"a\\nb\\u0000\"}", std::string("a\nb\0", 4)},
  };
  std::vector<std::string> lines;
  std::vector<json::value> expected;
  for (const Case& c : cases) {
    lines.push_back(c.line);
    expected.push_back(errorResponse(1, -32601, "Method not found: " + c.method));
  }
  EXPECT_EQ(parsed(run(lines)), expected);  // answered in order, by one connector
}

TEST(Loop, EchoesEveryKindOfIdExactly) {
  std::vector<std::string> lines = {R"({"id":18446744073709551615,"method":"ping"})"};
  std::string expected = "{\"id\":18446744073709551615,\"jsonrpc\":\"2.0\",\"result\":{}}\n";
  for (std::string id :
       {"null", "0", "-1", "\"abc\"", "\"\"", "9223372036854775807", "-9223372036854775808",
        "18446744073709551615", "1.5", "{\"a\":[1,{\"b\":null}]}", "[]", "true"}) {
    lines.push_back("{\"method\":\"ping\",\"id\":" + id + "}");
    expected += "{\"id\":" + id + ",\"jsonrpc\":\"2.0\",\"result\":{}}\n";  // each as written
  }
  EXPECT_EQ(run(lines), expected);
}

TEST(Loop, InitializeEchoesTheVersionStringOrNamesItsOwn) {
  const json::value base = {
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", "vesk"}, {"version", "1.0"}}},
      {"instructions",
       "Vesk's connector: list the other chats open in Vesk on this Mac, send one a message (its "
       "answer comes back here), or read its latest messages."},
  };
  struct Case {
    std::string params;
    json::value version;
  } cases[] = {
      {R"(,"params":{"protocolVersion":"2024-11-05","capabilities":{}})", "2024-11-05"},
      {R"(,"params":{"protocolVersion":""})", ""},
      {R"(,"params":{"protocolVersion":"made up"})", "made up"},
      {"", "2025-06-18"},
      {R"(,"params":null)", "2025-06-18"},
      {R"(,"params":[1])", "2025-06-18"},
      {R"(,"params":{"protocolVersion":20250618})", "2025-06-18"},
  };
  std::vector<std::string> lines;
  std::vector<json::value> expected;
  for (const Case& c : cases) {
    json::value result = base;
    result.as_object()["protocolVersion"] = c.version;
    lines.push_back(R"({"jsonrpc":"2.0","id":"i","method":"initialize")" + c.params + "}");
    expected.push_back(response("i", result));
  }
  EXPECT_EQ(parsed(run(lines)), expected);  // each answers its own request: nothing is negotiated
  EXPECT_EQ(base.at("instructions").as_string().size(), 142u);
}

TEST(Loop, ListsTheSameWholeCatalogueWhateverTheRequestOrRun) {
  const std::string list = R"({"id":1,"method":"tools/list"})";
  std::vector<json::value> answers =
      parsed(run({list, R"({"id":2,"method":"tools/list","params":{"cursor":"next"}})"}));
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].at("result"), answers[1].at("result"));
  EXPECT_EQ(answers[0].at("result").as_object().size(), 1u);  // `tools` and nothing else: no cursor
  EXPECT_EQ(answers[0].at("result").at("tools").as_array().size(), 3u);
  EXPECT_EQ(parsed(run({list}, {"--chat", "A"})), std::vector<json::value>{answers[0]});
}

TEST(Loop, ReadsLinesAsTheyComeAndWritesOneLfEndedLineEach) {
  // CRLF endings, a last line without LF, no jsonrpc member, answers in request order.
  std::string out = run({"{\"id\":1,\"method\":\"ping\"}\r", "{\"id\":2,\"method\":\"nope\"}\r",
                         "{\"jsonrpc\":\"1.0\",\"id\":3,\"method\":\"ping\"}"});
  EXPECT_EQ(out.find('\r'), std::string::npos);
  std::vector<std::string> lines = split(out);
  ASSERT_EQ(lines.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(parsedLine(lines[i]).at("id"), i + 1);
  Connector connector;
  connector.send("{\"id\":9,\"method\":\"ping\"}");  // no LF: served once input ends
  EXPECT_EQ(finished(connector), "{\"id\":9,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
}

TEST(Loop, ExitsAtOnceWhenInputEndsWithNothingInFlight) {
  EXPECT_EQ(run({}), "");
  Connector connector({"--chat", "x", "--unknown"});
  EXPECT_EQ(finished(connector), "");
}
