// Numbers as clients and hosts write them: an id goes back exactly as it was sent, and a number of
// any size, anywhere in a request or a reply, costs nothing and loses nothing.
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

const std::string modernMeta = R"("_meta":{"io.modelcontextprotocol/protocolVersion":"2026-07-28",)"
                               R"("io.modelcontextprotocol/clientCapabilities":{}})";

// The id of an answer line, as its text: what follows `"id":` up to the `jsonrpc` member.
std::string idOf(const std::string& line) {
  std::size_t start = line.find("\"id\":") + 5;
  return line.substr(start, line.find(",\"jsonrpc\"", start) - start);
}

// A tool call with the given id and params text, and a cancellation of the id written `id`.
std::string call(const std::string& id, const std::string& params) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"tools/call","params":)" + params + "}";
}
std::string cancel(const std::string& id) {
  return R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)" + id +
         "}}";
}

const std::string huge = std::string(400, '9');  // an integer of 400 digits

}  // namespace

// In each era, and through a tool call answered on a worker, the id comes back as written.
TEST(Numbers, AnIdGoesBackAsItWasWritten) {
  Host host(Host::replying(okReply("done")));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  struct Case {
    std::string sent, back;
  } cases[] = {
      {"1e2", "1e2"},
      {"-0", "-0"},
      {"1.50", "1.50"},
      {"123456789012345678901234567890", "123456789012345678901234567890"},
      {"-1.5E-10", "-1.5E-10"},
      {"0.10000000000000001", "0.10000000000000001"},
      {"1e400", "1e400"},
      {"1e9999999999", "1e9999999999"},
      {R"([1.0, {"a" : 2e0, "b":"\u0041"}])", R"([1.0,{"a":2e0,"b":"A"}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    connector.line(R"({"jsonrpc":"2.0","id":)" + c.sent + R"(,"method":"ping"})");
    connector.line(R"({"jsonrpc":"2.0","id":)" + c.sent +
                   R"(,"method":"server/discover","params":{)" + modernMeta + "}}");
    connector.line(call(c.sent, R"({"name":"vesk_list_chats"})"));
    for (int answer = 0; answer < 3; ++answer) {
      EXPECT_EQ(idOf(connector.next().value_or("")), c.back);
    }
  }
  finished(connector);
}

// Beyond binary64, in the id, in params, in a tool's arguments and in the host's reply: every
// request is answered, and `last_n`, which such a number is not a whole one within 64 bits, is 6.
TEST(Numbers, BeyondBinary64AnywhereLosesNothing) {
  Host host(Host::answering([](const std::string& request) {
    json::object reply = {{"ok", true}, {"text", request.substr(0, request.size() - 1)}};
    std::string text = json::serialize(reply);
    return text.substr(0, text.size() - 1) + R"(,"n":1e400,"m":-1e9999999999,"k":)" + huge + "}\n";
  }));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  connector.line(R"({"jsonrpc":"2.0","id":-1e400,"method":"ping"})");
  EXPECT_EQ(connector.next(), R"({"id":-1e400,"jsonrpc":"2.0","result":{}})");
  connector.line(R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":1e400,"y":)" + huge +
                 R"(,"z":[1e-9999999999]}})");
  EXPECT_EQ(connector.response(), pong(1));
  for (const std::string& last : {std::string("1e400"), "-" + huge, std::string("1e9999999999")}) {
    SCOPED_TRACE(last);
    connector.line(call("2", R"({"name":"vesk_read_chat","arguments":{"chat":"c","x":1e400,)"
                             R"("last_n":)" +
                                 last + "}}"));
    EXPECT_EQ(connector.response(),
              toolResult(2, R"({"chat":"c","from":"","last_n":6,"op":"read"})", false));
  }
  finished(connector);
}

// A cancellation silences only the call whose id is the same JSON value, written the same: not
// one whose integer would wrap to it, nor one equal as a number but written otherwise.
TEST(Numbers, ACancellationSilencesOnlyTheCallWithTheSameId) {
  Gate release;
  Host host(Host::replying(okReply("done"), &release));
  Connector connector({}, {{"VESK_BRIDGE_SOCKET", host.path()}});
  const std::string params = R"({"name":"vesk_list_chats",)" + modernMeta + "}";
  for (std::string id : {"-1", "-9223372036854775808", "1", "1e2", "7"})
    connector.line(call(id, params));
  host.await(5);
  for (std::string id : {"18446744073709551615", "9223372036854775808", "1.0", "100", "7"})
    connector.line(cancel(id));
  connector.line(pingLine("after"));
  EXPECT_EQ(connector.response(), pong("after"));  // the cancellations were read
  connector.hangup();
  release.open();
  std::set<std::string> answered;
  for (const std::string& line : split(finished(connector))) answered.insert(idOf(line));
  EXPECT_EQ(answered, (std::set<std::string>{"-1", "-9223372036854775808", "1", "1e2"}));
}
