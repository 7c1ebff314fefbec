// The two protocol eras, decided request by request: a request whose `_meta` claims a protocol
// version is served as the 2026-07-28 revision says, every other one as before it.
#include <set>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "support/calls.h"
#include "support/connector.h"
#include "support/host.h"

namespace json = boost::json;
using namespace testing_support;

namespace {

const std::string version = "2026-07-28";
const json::value serverInfo = {{"name", "vesk"}, {"version", "1.0"}};

// A modern request's `_meta`, claiming `claimed`.
json::value meta(const json::value& claimed = json::value(version)) {
  return {{"io.modelcontextprotocol/protocolVersion", claimed},
          {"io.modelcontextprotocol/clientCapabilities", json::object()},
          {"io.modelcontextprotocol/clientInfo", {{"name", "test"}, {"version", "1"}}}};
}

// `params` with the modern envelope added.
json::object modern(json::object params = {}, const json::value& envelope = meta()) {
  params["_meta"] = envelope;
  return params;
}

// A modern result: `result` with the members every modern result carries.
json::value completed(const json::value& id, json::object result) {
  result["resultType"] = "complete";
  result["_meta"] = {{"io.modelcontextprotocol/serverInfo", serverInfo}};
  return response(id, result);
}

json::value failed(const json::value& id, int code, const std::string& message) {
  return errorResponse(id, code, message);
}
// The same, with `data` in the error.
json::value failed(const json::value& id, int code, const std::string& message,
                   const json::value& data) {
  json::value answer = errorResponse(id, code, message);
  answer.at("error").as_object()["data"] = data;
  return answer;
}

// What every modern tool call shows when the host is away.
json::value notOpenResult(const json::value& id) {
  json::object result = toolResult(id, notOpen, true).at("result").as_object();
  return completed(id, result);
}

struct Exchange {
  std::string line;
  json::value expected;
};

// Runs one connector over every case's line and expects each answer once. Tool calls are
// answered by workers, in any order, so the answers are compared as a set.
void expectAnswers(const std::vector<Exchange>& cases) {
  std::vector<std::string> lines;
  std::multiset<std::string> expected, answered;
  for (const Exchange& c : cases) {
    lines.push_back(c.line);
    expected.insert(canonical(c.expected));
  }
  std::string out = run(lines, {"--chat", "me"}, {{"VESK_BRIDGE_SOCKET", "/nonexistent/b.sock"}});
  for (const json::value& answer : parsed(out)) answered.insert(canonical(answer));
  EXPECT_EQ(answered, expected);
}

}  // namespace

TEST(Eras, OnlyAClaimedVersionMakesARequestModern) {
  const std::string key = "io.modelcontextprotocol/protocolVersion";
  expectAnswers({
      // Other members of `_meta` make no claim, and neither does a claim outside `_meta`.
      {requestLine(1, "ping", {{"_meta", {{"progressToken", 5}}}}), pong(1)},
      {requestLine(2, "ping",
                   {{"_meta", {{"io.modelcontextprotocol/clientCapabilities", nullptr}}}}),
       pong(2)},
      {requestLine(3, "ping", {{key, version}}), pong(3)},
      {requestLine(4, "ping", {{"_meta", "2026-07-28"}}), pong(4)},
      {requestLine(5, "server/discover"), failed(5, -32601, "Method not found: server/discover")},
      {requestLine(6, "initialize", {{"protocolVersion", version}}),
       response(6, {{"protocolVersion", version},
                    {"capabilities", {{"tools", {{"listChanged", false}}}}},
                    {"serverInfo", serverInfo},
                    {"instructions",
                     "Vesk's connector: list the other chats open in Vesk on this Mac, send one a "
                     "message (its answer comes back here), or read its latest messages."}})},
      // A claim of any value, even null, makes the request modern and so refused here.
      {requestLine(7, "ping", {{"_meta", {{key, nullptr}}}}),
       failed(7, -32602, "Invalid request _meta: " + key + " must be a string")},
  });
}

TEST(Eras, AModernRequestIsCheckedForItsEnvelopeThenItsVersionThenItsMethod) {
  const std::string caps = "io.modelcontextprotocol/clientCapabilities";
  const std::string client = "io.modelcontextprotocol/clientInfo";
  auto without = [](const std::string& key) {
    json::value envelope = meta();
    envelope.as_object().erase(key);
    return envelope;
  };
  auto with = [](const std::string& key, const json::value& value) {
    json::value envelope = meta();
    envelope.as_object()[key] = value;
    return envelope;
  };
  auto invalid = [](int id, const std::string& what) {
    return failed(id, -32602, "Invalid request _meta: " + what);
  };
  const std::string needsObject = caps + " must be an object";
  const std::string needsName = client + " must be an object with a string name and version";
  const json::value unsupported = {{"supported", {version}}, {"requested", "2025-06-18"}};
  expectAnswers({
      {requestLine(1, "no/such", modern({}, meta(20260728))),
       invalid(1, "io.modelcontextprotocol/protocolVersion must be a string")},
      {requestLine(2, "tools/list", modern({}, without(caps))), invalid(2, needsObject)},
      {requestLine(3, "tools/list", modern({}, with(caps, json::array()))),
       invalid(3, needsObject)},
      {requestLine(4, "tools/list", modern({}, with(client, "me"))), invalid(4, needsName)},
      {requestLine(5, "tools/list", modern({}, with(client, {{"name", "me"}}))),
       invalid(5, needsName)},
      {requestLine(6, "tools/list", modern({}, with(client, {{"name", 1}, {"version", "1"}}))),
       invalid(6, needsName)},
      {requestLine(7, "ping", modern({}, meta("2025-06-18"))),
       failed(7, -32022, "Unsupported protocol version: 2025-06-18", unsupported)},
      // The version is looked at before the method, and the method last.
      {requestLine(8, "no/such", modern({}, meta("2025-06-18"))),
       failed(8, -32022, "Unsupported protocol version: 2025-06-18", unsupported)},
      {requestLine(9, "ping", modern()), failed(9, -32601, "Method not found: ping")},
      {requestLine(10, "initialize", modern({{"protocolVersion", version}})),
       failed(10, -32601, "Method not found: initialize")},
      // A tool call that fails a check reaches no host: its answer is the error, not a result.
      {requestLine(11, "tools/call", modern({{"name", "vesk_list_chats"}}, meta("1.0"))),
       failed(11, -32022, "Unsupported protocol version: 1.0",
              {{"supported", {version}}, {"requested", "1.0"}})},
  });
}

TEST(Eras, ModernResultsCarryTheirTypeTheServerAndTheCacheHints) {
  Connector probe({}, {{"VESK_BRIDGE_SOCKET", "/nonexistent/b.sock"}});
  probe.line(requestLine("d", "server/discover", modern()));
  json::value discovered = probe.response();
  probe.line(requestLine("l", "tools/list", modern({{"cursor", "x"}})));
  json::value listed = probe.response();
  probe.line(requestLine("legacy", "tools/list"));
  json::value legacy = probe.response();
  finished(probe);

  const json::value& hints = discovered.at("result");
  const json::value& ttl = hints.at("ttlMs");
  // A count that is never negative; the parser reads one that fits as int64.
  EXPECT_TRUE(ttl.is_uint64() || (ttl.is_int64() && ttl.as_int64() >= 0)) << ttl;
  EXPECT_TRUE(hints.at("cacheScope") == "public" || hints.at("cacheScope") == "private");
  auto cached = [&](json::object result) {
    result["ttlMs"] = hints.at("ttlMs");
    result["cacheScope"] = hints.at("cacheScope");
    return result;
  };
  EXPECT_EQ(discovered,
            completed("d", cached({{"supportedVersions", {version}},
                                   {"capabilities", {{"tools", {{"listChanged", false}}}}},
                                   {"instructions",
                                    "Vesk's connector: list the other chats open in Vesk on this "
                                    "Mac, send one a message (its answer comes back here), or read "
                                    "its latest messages."}})));
  EXPECT_EQ(listed, completed("l", cached({{"tools", legacy.at("result").at("tools")}})));
  EXPECT_EQ(legacy.at("result").as_object().size(), 1u);  // the legacy listing is as it always was

  expectAnswers({
      {callLine(1, "vesk_list_chats"), toolResult(1, notOpen, true)},
      {requestLine(2, "tools/call", modern({{"name", "vesk_list_chats"}})), notOpenResult(2)},
      {requestLine(3, "tools/call", modern({{"name", "nope"}})),
       failed(3, -32602, "Unknown tool: nope")},
  });
}

TEST(Eras, ACancelledModernCallGoesUnansweredButItsExchangeRunsToItsEnd) {
  Gate release;
  Host host(Host::replying(okReply("done"), &release));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  auto call = [](const json::value& id, bool isModern) {
    json::object params = {{"name", "vesk_send_to_chat"}, {"arguments", {{"chat", "a"}}}};
    return requestLine(id, "tools/call", isModern ? modern(params) : params);
  };
  auto cancel = [](const json::value& id) {
    return json::serialize(json::value{{"jsonrpc", "2.0"},
                                       {"method", "notifications/cancelled"},
                                       {"params", {{"requestId", id}, {"reason", "user"}}}});
  };
  connector.line(call("modern", true));
  connector.line(call("legacy", false));
  connector.line(call("kept", true));
  host.await(3);  // all three are with the host
  connector.line(cancel("modern"));
  connector.line(cancel("legacy"));  // a legacy call is answered all the same
  connector.line(cancel("elsewhere"));
  connector.line(pingLine("after"));
  EXPECT_EQ(connector.response(), pong("after"));  // the cancellations were read
  connector.hangup();
  release.open();
  std::set<std::string> answered;
  for (const json::value& reply : parsed(finished(connector))) {
    answered.insert(json::serialize(reply.at("id")));
  }
  EXPECT_EQ(answered, (std::set<std::string>{"\"kept\"", "\"legacy\""}));
  EXPECT_EQ(host.requests().size(), 3u);  // the cancelled call still reached the host
}
