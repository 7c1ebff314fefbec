// The demo host's answers, straight from its Room: what each op gives and every refusal.
#include "room.h"

#include <string>

#include <boost/json.hpp>
#include <gtest/gtest.h>

namespace json = boost::json;

namespace {

demo::Room sampleRoom() {
  return demo::Room(demo::samples());
}

std::string sendLine(const std::string& from, const std::string& to, const std::string& message) {
  return json::serialize(
      json::object{{"op", "send"}, {"from", from}, {"chat", to}, {"message", message}});
}

std::string readLine(const std::string& chat, const json::value& lastN) {
  return json::serialize(
      json::object{{"op", "read"}, {"from", "web"}, {"chat", chat}, {"last_n", lastN}});
}

json::object refusal(const std::string& error) {
  return {{"ok", false}, {"error", error}};
}

}  // namespace

TEST(Room, RefusesWhatItCannotDo) {
  const std::string lastN = "last_n must be a whole number from 1 to 20.";
  struct Case {
    std::string line, error;
  } cases[] = {
      {"not json",
       "The demo host could not read that request: it must be one JSON object on one line."},
      {"[1]", "The demo host could not read that request: it must be one JSON object on one line."},
      {R"({"op":"list","from":"web"})" + std::string(1, '\0') + "x",
       "The demo host could not read that request: it must be one JSON object on one line."},
      {R"({"op":"dance","from":"web"})",
       "The demo host does not know the op \"dance\"; it answers list, send and read."},
      {sendLine("web", "", "hi"), "No chat given: use a chat id from vesk_list_chats."},
      {sendLine("web", "nope", "hi"),
       "There is no chat \"nope\" open in Vesk. Use a chat id from vesk_list_chats."},
      {sendLine("ghost", "api", "hi"),
       "The sending chat \"ghost\" is not open in Vesk, so its message cannot be labelled."},
      {sendLine("", "api", "hi"),
       "The sending chat \"\" is not open in Vesk, so its message cannot be labelled."},
      {sendLine("web", "web", "hi"), "That is this chat itself; send to another chat's id."},
      {sendLine("web", "api", ""), "The message is empty; there is nothing to send."},
      {sendLine("web", "api", std::string(65537, 'x')),
       "The message is 65537 bytes; up to 64 KB (65536 bytes) can be sent."},
      {R"({"op":"send","from":"web","chat":"api","message":7})",
       "The message is empty; there is nothing to send."},
      {readLine("nope", 3),
       "There is no chat \"nope\" open in Vesk. Use a chat id from vesk_list_chats."},
      {readLine("", 3), "No chat given: use a chat id from vesk_list_chats."},
      {readLine("api", 0), lastN},
      {readLine("api", 21), lastN},
      {readLine("api", -3), lastN},
      {readLine("api", 2.5), lastN},
      {readLine("api", "5"), lastN},
      {readLine("api", 18446744073709551615ull), lastN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 100));
    demo::Room room = sampleRoom();
    EXPECT_EQ(room.respond(c.line), refusal(c.error));
    EXPECT_EQ(room.messages("api").size(), 2u);  // a refused send leaves no trace
  }
}

TEST(Room, ListsEveryChatAndMarksTheAskingOne) {
  const std::string chats =
      "\n- web: \"Shop front end\", Claude, ~/shop/web, idle{web}"
      "\n- api: \"Shop API\", Codex, ~/shop/api, busy{api}"
      "\n- docs: \"Shop docs\", Claude, ~/shop/docs, idle{docs}"
      "\n- review: \"Code review\", Codex, ~/shop, idle{review}";
  for (std::string from : {"api", "review", "", "ghost"}) {
    SCOPED_TRACE(from);
    std::string expected = "4 chats open in Vesk:" + chats;
    for (std::string id : {"web", "api", "docs", "review"}) {
      std::string mark = "{" + id + "}";
      expected.replace(expected.find(mark), mark.size(), id == from ? " (you)" : "");
    }
    demo::Room room = sampleRoom();
    EXPECT_EQ(room.respond(json::serialize(json::object{{"op", "list"}, {"from", from}})),
              json::object({{"ok", true}, {"text", expected}}));
  }
}

TEST(Room, DeliversLabelledMessagesAndReadsTheNewestOldestFirst) {
  demo::Room room = sampleRoom();
  EXPECT_EQ(
      room.respond(sendLine("web", "docs", "first")),
      json::object(
          {{"ok", true},
           {"text",
            "Sent to \"Shop docs\" (docs), labelled with this chat's name, \"Shop front end\". "
            "It starts that chat's next turn."}}));
  EXPECT_EQ(room.respond(sendLine("web", "api", std::string(65536, 'y')))["ok"],
            true);  // 64 KB exactly
  EXPECT_EQ(room.respond(sendLine("api", "docs", "second\nline"))["ok"], true);
  struct Case {
    json::value lastN;
    std::string text;
  } cases[] = {
      {1,
       "The last 1 message in \"Shop docs\" (docs), oldest first:\n[from \"Shop API\"] "
       "second\nline"},
      {2,
       "The last 2 messages in \"Shop docs\" (docs), oldest first:\n[from \"Shop front end\"] first"
       "\n[from \"Shop API\"] second\nline"},
      {20,
       "The last 3 messages in \"Shop docs\" (docs), oldest first:\n[person] Keep the API guide in "
       "step with the code.\n[from \"Shop front end\"] first\n[from \"Shop API\"] second\nline"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(json::serialize(c.lastN));
    EXPECT_EQ(room.respond(readLine("docs", c.lastN)),
              json::object({{"ok", true}, {"text", c.text}}));
  }
  EXPECT_EQ(
      room.respond(R"({"op":"read","chat":"review"})"),  // no last_n: 6, and nothing there yet
      json::object({{"ok", true}, {"text", "No messages in \"Code review\" (review) yet."}}));
}

TEST(Room, PassesAConversationOnAtMostThreeTimesInARow) {
  const json::object tooFar = refusal(
      "This conversation has already passed between chats 3 times in a row, so it stays here.");
  struct Case {
    std::vector<std::pair<std::string, std::string>> hops;  // each accepted
    std::pair<std::string, std::string> fourth;             // refused
  } cases[] = {
      {{{"web", "api"}, {"api", "web"}, {"web", "api"}}, {"api", "web"}},          // back and forth
      {{{"web", "api"}, {"api", "docs"}, {"docs", "review"}}, {"review", "web"}},  // along a chain
  };
  for (const Case& c : cases) {
    demo::Room room = sampleRoom();
    for (const auto& [from, to] : c.hops) {
      SCOPED_TRACE(from + " to " + to);
      EXPECT_EQ(room.respond(sendLine(from, to, "over to you"))["ok"], true);
    }
    EXPECT_EQ(room.respond(sendLine(c.fourth.first, c.fourth.second, "and back")), tooFar);
  }
  // A chat that no conversation has reached starts a new one each time it sends.
  demo::Room room = sampleRoom();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(room.respond(sendLine("web", "docs", "again"))["ok"], true);
}

TEST(Room, KeepsOnlyTheNewestMessagesOfAChat) {
  demo::Room room = sampleRoom();
  for (std::size_t i = 0; i < demo::kept + 5; ++i)
    room.respond(sendLine("web", "review", std::to_string(i)));
  std::deque<demo::Message> kept = room.messages("review");
  ASSERT_EQ(kept.size(), demo::kept);
  EXPECT_EQ(kept.front().text, "5");
  EXPECT_EQ(kept.back().text, std::to_string(demo::kept + 4));
}
