#include "bridge/tools.h"

#include <gtest/gtest.h>

#include "front/reader.h"

namespace json = boost::json;

TEST(Request, SendsOnlyEachToolsOwnMembersWithDefaults) {
  struct Case {
    const char* name;
    json::object arguments, expected;
  } cases[] = {
      {"vesk_list_chats", {{"chat", "x"}, {"last_n", 3}}, {{"op", "list"}, {"from", "me"}}},
      {"vesk_send_to_chat",
       {{"chat", "c2"}, {"message", "hi\nthere"}, {"last_n", 3}},
       {{"op", "send"}, {"from", "me"}, {"chat", "c2"}, {"message", "hi\nthere"}}},
      {"vesk_send_to_chat",
       json::object(),
       {{"op", "send"}, {"from", "me"}, {"chat", ""}, {"message", ""}}},
      {"vesk_send_to_chat",
       {{"chat", 7}, {"message", nullptr}},
       {{"op", "send"}, {"from", "me"}, {"chat", ""}, {"message", ""}}},
      {"vesk_read_chat",
       {{"chat", "c3"}, {"message", "no"}},
       {{"op", "read"}, {"from", "me"}, {"chat", "c3"}, {"last_n", 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + json::serialize(c.arguments));
    EXPECT_EQ(vesk::request(c.name, c.arguments, "me"), c.expected);
  }
}

TEST(Request, LastNIsAnyWholeNumberWithinSigned64BitsElseSix) {
  struct Case {
    const char* given;  // JSON text of the argument
    std::int64_t sent;
  } cases[] = {
      {"3", 3},
      {"3.0", 3},
      {"50", 50},
      {"0", 0},
      {"-3", -3},
      {"4.0", 4},
      {"2.5", 6},
      {"\"4\"", 6},
      {"true", 6},
      {"null", 6},
      {"[4]", 6},
      {"1e300", 6},
      {"1e400", 6},
      {"-1e400", 6},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", 6},
      {"18446744073709551615", 6},
      {"123456789012345678901234567890", 6},
      {"9.3e18", 6},
      {"-0.0", 0},
      // Just beyond the range, although their doubles round to exactly -2^63.
      {"-9223372036854775809", 6},
      {"-9223372036854776000", 6},
      {"-9223372036854775809.0", 6},
      {"-9223372036854775808.0", INT64_MIN},
      {"9007199254740993.0", 9007199254740993},
      {"4.0000000000000001", 6},
      {"1e-400", 6},
      {"1e0000000001", 10},
      {"1e9999999999", 6},
      {"0e9999999999", 0},
      {"0.0e400", 0},  // zero, though the parser's own double for it is NaN
      {"7e-9999999999", 6},
  };
  static constexpr vesk::Member arguments[] = {{"chat"}, {"last_n"}};
  const std::string huge = "7" + std::string(400, '0') + "e-9999999999";
  for (const Case& c : cases) {
    // Read as a request's arguments are, since the reader decides from the digits as written; and
    // again with a lone surrogate beside it, which has the reader mend the text before it reads it.
    for (const char* chat : {"c", "\\ud800"}) {
      SCOPED_TRACE(std::string(c.given) + " beside " + chat);
      std::string text = std::string(R"({"chat":")") + chat + R"(","last_n":)" + c.given + "}";
      std::optional<vesk::Document> read = vesk::parseLine(text, arguments);
      ASSERT_TRUE(read);
      json::value sent = vesk::request("vesk_read_chat", read->root(), "").value()["last_n"];
      EXPECT_EQ(sent, json::value(c.sent));
    }
  }
}

TEST(Request, NoRequestForANameThatIsNoTool) {
  for (const char* name :
       {"", "VESK_LIST_CHATS", " vesk_list_chats", "vesk_list_chats ", "vesk_list"}) {
    EXPECT_FALSE(vesk::request(name, json::object(), "").has_value()) << name;
  }
}

TEST(Result, ShowsTheHostsTextOrAFixedOne) {
  auto shaped = [](const char* text, bool isError) {
    return json::object{{"content", {{{"type", "text"}, {"text", text}}}}, {"isError", isError}};
  };
  struct Case {
    const char* reply;
    json::object expected;
  } cases[] = {
      {R"({"ok":true,"text":"3 chats"})", shaped("3 chats", false)},
      {R"({"ok":true,"text":""})", shaped("", false)},
      {R"({"ok":true})", shaped("Done.", false)},
      {R"({"ok":true,"text":5,"error":"x"})", shaped("Done.", false)},
      {R"({"ok":false,"error":"No such chat."})", shaped("No such chat.", true)},
      {R"({"ok":false,"error":""})", shaped("", true)},
      {R"({"ok":false,"text":"shown?"})", shaped("Vesk said no.", true)},
      {R"({"error":"no ok at all"})", shaped("no ok at all", true)},
      {R"({})", shaped("Vesk said no.", true)},
      {R"({"ok":1,"text":"one is not true"})", shaped("Vesk said no.", true)},
      {R"({"ok":"true","error":"e"})", shaped("e", true)},
      {R"({"ok":null})", shaped("Vesk said no.", true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(vesk::result(json::parse(c.reply).as_object()), c.expected);
  }
}
