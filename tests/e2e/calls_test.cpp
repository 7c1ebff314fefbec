// Tool calls through the built connector against a fake host.
#include "support/calls.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/build.h"
#include "support/connector.h"
#include "support/host.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

// The answers to `lines`, parsed, from a connector whose host listens at `socket`.
std::vector<json::value> answers(const std::vector<std::string>& lines, const std::string& socket,
                                 std::vector<std::string> args = {}) {
  return parsed(run(lines, std::move(args), {{"VESK_BRIDGE_SOCKET", socket}}));
}

}  // namespace

TEST(Calls, EachToolSendsItsOwnBridgeRequest) {
  Host host(Host::replying("{\"ok\":true}\n"));
  std::vector<std::string> lines = {
      callLine(1, "vesk_list_chats", {{"chat", "ignored"}}),
      callLine(2, "vesk_send_to_chat", {{"chat", "c2"}, {"message", "hi\nyou"}, {"x", 1}}),
      // 4.0 as text: the serializer would write it as 4E0.
      R"({"jsonrpc":"2.0","id":3,"method":"tools/call",)"
      R"("params":{"name":"vesk_read_chat","arguments":{"chat":"c3","last_n":4.0}}})",
      callLine(4, "vesk_send_to_chat", "not an object"),
  };
  std::vector<json::value> replies = answers(lines, host.path(), {"--chat", "me"});
  ASSERT_EQ(replies.size(), 4u);
  std::set<std::string> seen;
  for (const std::string& frame : host.requests()) {
    EXPECT_EQ(frame.find('\n'), frame.size() - 1);
    seen.insert(canonical(parsedLine(frame)));
  }
  std::set<std::string> expected = {
      canonical({{"op", "list"}, {"from", "me"}}),
      canonical({{"op", "send"}, {"from", "me"}, {"chat", "c2"}, {"message", "hi\nyou"}}),
      canonical({{"op", "read"}, {"from", "me"}, {"chat", "c3"}, {"last_n", 4}}),
      canonical({{"op", "send"}, {"from", "me"}, {"chat", ""}, {"message", ""}}),
  };
  EXPECT_EQ(seen, expected);
}

TEST(Calls, WithoutAChatIdEveryRequestComesFromNobody) {
  Host host(Host::replying("{\"ok\":true}\n"));
  answers({callLine(1, "vesk_list_chats")}, host.path(), {"--chat"});
  EXPECT_EQ(parsedLine(host.requests().at(0)), (json::value{{"op", "list"}, {"from", ""}}));
}

TEST(Calls, UnknownToolsAreProtocolErrorsAndReachNoHost) {
  Host host(Host::replying("{\"ok\":true}\n"));
  struct Case {
    std::string params, name;  // what follows the method, and the name the answer gives
  } cases[] = {
      {"", ""},
      {R"(,"params":{"arguments":{}})", ""},
      {R"(,"params":{"name":7})", ""},
      {R"(,"params":{"name":"VESK_LIST_CHATS"})", "VESK_LIST_CHATS"},
      {R"(,"params":{"name":" vesk_list_chats"})", " vesk_list_chats"},
  };
  std::vector<std::string> lines;
  std::vector<json::value> expected;
  for (const Case& c : cases) {
    std::size_t id = lines.size();
    lines.push_back(R"({"id":)" + std::to_string(id) + R"(,"method":"tools/call")" + c.params +
                    "}");
    expected.push_back(errorResponse(id, -32602, "Unknown tool: " + c.name));
  }
  std::vector<json::value> replies = answers(lines, host.path());
  // Tool calls are answered by workers, in any order.
  auto byText = [](const json::value& a, const json::value& b) {
    return canonical(a) < canonical(b);
  };
  std::sort(replies.begin(), replies.end(), byText);
  std::sort(expected.begin(), expected.end(), byText);
  EXPECT_EQ(replies, expected);
  EXPECT_EQ(host.connections(), 0);
}

TEST(Calls, TheHostsReplyBecomesTheToolResult) {
  struct Case {
    std::string reply;
    json::value expected;
  } cases[] = {
      {"{\"ok\":true,\"text\":\"line one\\nline two\"}\n",
       toolResult("r", "line one\nline two", false)},
      {"{\"ok\":false,\"error\":\"No chat c9.\"}\n", toolResult("r", "No chat c9.", true)},
      {"{\"ok\":true}", toolResult("r", "Done.", false)},
      {"[\"not an object\"]\n", toolResult("r", noAnswer, true)},
  };
  std::vector<Host::Script> scripts;
  for (const Case& c : cases) scripts.push_back(Host::replying(c.reply));
  Host host(Host::inTurn(std::move(scripts)));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    connector.line(callLine("r", "vesk_read_chat"));  // the next connection, so the next reply
    EXPECT_EQ(connector.response(), c.expected);
  }
  finished(connector);
}

TEST(Calls, AMissingHostIsAToolErrorNotAFailure) {
  Folder folder;
  std::string call = callLine(5, "vesk_list_chats");
  for (std::string socket : {folder.path + "/none.sock", std::string(), std::string(200, 'p')}) {
    SCOPED_TRACE(socket);
    EXPECT_EQ(answers({call}, socket), std::vector<json::value>{toolResult(5, notOpen, true)});
  }
}

TEST(Calls, WithoutTheVariableTheSocketLivesUnderHome) {
  Folder home;
  std::string dir = home.path + "/Library/Application Support/Vesk";
  for (std::string part :
       {"/Library", "/Library/Application Support", "/Library/Application Support/Vesk"}) {
    ASSERT_EQ(::mkdir((home.path + part).c_str(), 0700), 0);
  }
  Host host(Host::replying("{\"ok\":true,\"text\":\"found\"}\n"), dir + "/bridge.sock");
  std::string out = run({callLine(1, "vesk_list_chats")}, {},
                        {{"VESK_BRIDGE_SOCKET", std::nullopt}, {"HOME", home.path + "/"}});
  EXPECT_EQ(parsedLine(out), toolResult(1, "found", false));
}

TEST(Calls, ASlowHostDelaysOnlyItsOwnCall) {
  Gate release;
  Host host(Host::replying(okReply("late"), &release));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  connector.line(callLine("slow", "vesk_list_chats"));
  host.await(1);
  connector.line(pingLine("ping"));
  connector.line(R"({"id":"list","method":"tools/list"})");
  EXPECT_EQ(connector.response().at("id"), "ping");
  EXPECT_EQ(connector.response().at("id"), "list");
  release.open();
  EXPECT_EQ(connector.response(), toolResult("slow", "late", false));
  finished(connector);
}

TEST(Calls, EndOfInputWaitsForEveryCallInFlight) {
  const int calls = 40;
  Gate release;
  Host host(Host::answering(chatEcho, &release));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  connector.send(echoCalls(0, calls));
  host.await(calls);  // every call is in flight at once, each on its own connection
  connector.hangup();
  release.open();
  std::set<int> answered;
  for (const json::value& reply : parsed(finished(connector))) {  // every line whole
    int id = json::value_to<int>(reply.at("id"));
    EXPECT_EQ(reply, echoed(id));
    EXPECT_TRUE(answered.insert(id).second) << "answered twice: " << id;
  }
  EXPECT_EQ(answered.size(), static_cast<std::size_t>(calls));
}

TEST(Calls, NoCallIsLostWhenNoThreadCanStart) {
  if (sanitized) GTEST_SKIP() << "sanitizers need more address space than the limit leaves";
  // An address-space limit half a MiB above what the idle connector maps leaves room for the heap
  // but not for a thread's stack: every call must then run on the main thread instead of vanishing.
  long idle = idleSize();
  ASSERT_GT(idle, 0);
  Host host(Host::answering(chatEcho));
  std::string limit = "ulimit -v " + std::to_string(idle + 512) + " && exec \"$0\" \"$@\"";
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}}, {"/bin/sh", "-c", limit});
  const int calls = 20;
  connector.send(echoCalls(0, calls));
  connector.line(pingLine("after"));
  std::set<std::string> answered, expected = {canonical(pong("after"))};
  for (int i = 0; i < calls; ++i) expected.insert(canonical(echoed(i)));
  for (const json::value& reply : parsed(finished(connector))) {
    EXPECT_TRUE(answered.insert(canonical(reply)).second) << "answered twice: " << reply;
  }
  EXPECT_EQ(answered, expected);
}

TEST(Calls, AnIdAsDeepAsTheReaderAllowsComesBackFromAWorker) {
  // Workers run on small stacks, and writing an id back copies and dumps it one level at a time.
  // With the message object around it, 511 nested arrays are the deepest id a request can carry.
  json::value id = 1;
  for (int level = 0; level < 511; ++level) {
    json::array wrapper;
    wrapper.push_back(std::move(id));
    id = std::move(wrapper);
  }
  Host host(Host::replying("{\"ok\":true,\"text\":\"deep\"}\n"));
  std::vector<json::value> replies =
      answers({callLine(id, "vesk_list_chats"), callLine(id, "no_such_tool")}, host.path());
  ASSERT_EQ(replies.size(), 2u);
  for (const json::value& reply : replies) EXPECT_EQ(reply.at("id"), id);
}
