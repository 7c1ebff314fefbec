#include "front/catalogue.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "front/startup.h"

using nlohmann::json;

namespace {

const char* listText =
    "List the chats open in Vesk on this Mac: each one's id, name, agent (Claude or Codex), "
    "folder, and whether it's busy or idle. The one marked \"you\" is this chat. Use an id with "
    "vesk_send_to_chat or vesk_read_chat.";
const char* sendText =
    "Send a message to another chat open in Vesk, for example to ask a Codex chat to review "
    "something. It arrives there as a message from this chat, labeled with this chat's name, and "
    "starts that chat's next turn (or waits until its current one ends). Its answer comes back to "
    "this chat as a message labeled \"Answer from\" that chat when it's done, so you don't need to "
    "read it. Up to 64 KB. A conversation can pass between chats at most 3 times in a row; past "
    "that the answer stays in the other chat.";
const char* readText =
    "Read the latest messages in another chat open in Vesk: the person's and its agent's words, "
    "oldest first.";

json chatProperty() {
  return {{"type", "string"}, {"description", "The other chat's id, from vesk_list_chats."}};
}

}  // namespace

TEST(Catalogue, IsExactlyTheThreeToolsInOrder) {
  json expected = json::array({
      {{"name", "vesk_list_chats"},
       {"description", listText},
       {"inputSchema",
        {{"type", "object"}, {"properties", json::object()}, {"additionalProperties", false}}},
       {"annotations",
        {{"title", "List Vesk chats"}, {"readOnlyHint", true}, {"openWorldHint", false}}}},
      {{"name", "vesk_send_to_chat"},
       {"description", sendText},
       {"inputSchema",
        {{"type", "object"},
         {"properties",
          {{"chat", chatProperty()},
           {"message", {{"type", "string"}, {"description", "What to say to it."}}}}},
         {"required", {"chat", "message"}},
         {"additionalProperties", false}}},
       {"annotations",
        {{"title", "Send to a Vesk chat"},
         {"readOnlyHint", false},
         {"destructiveHint", false},
         {"openWorldHint", false}}}},
      {{"name", "vesk_read_chat"},
       {"description", readText},
       {"inputSchema",
        {{"type", "object"},
         {"properties",
          {{"chat", chatProperty()},
           {"last_n",
            {{"type", "integer"},
             {"minimum", 1},
             {"maximum", 20},
             {"description", "How many messages, newest ones (6 if not given)."}}}}},
         {"required", {"chat"}},
         {"additionalProperties", false}}},
       {"annotations",
        {{"title", "Read a Vesk chat"}, {"readOnlyHint", true}, {"openWorldHint", false}}}},
  });
  EXPECT_EQ(vesk::tools, expected);
}

TEST(Catalogue, TextsAndNumbersKeepTheirExactForm) {
  const json& tools = vesk::tools;
  EXPECT_EQ(tools[0]["description"].get<std::string>().size(), 212u);
  EXPECT_EQ(tools[1]["description"].get<std::string>().size(), 495u);
  EXPECT_EQ(tools[2]["description"].get<std::string>().size(), 104u);
  // Integers stay integers and hints stay booleans once written out.
  std::string written = tools.dump();
  EXPECT_NE(written.find(R"("maximum":20)"), std::string::npos);
  EXPECT_NE(written.find(R"("minimum":1)"), std::string::npos);
  EXPECT_NE(written.find(R"(marked \"you\" is)"), std::string::npos);
  EXPECT_EQ(written.find("20.0"), std::string::npos);
  EXPECT_TRUE(tools[0]["inputSchema"]["properties"].is_object());
  EXPECT_FALSE(tools[0]["inputSchema"].contains("required"));
}

TEST(Catalogue, ListingIsTheWholeCatalogueAsOneResult) {
  EXPECT_EQ(vesk::listing(vesk::Era::legacy), (json{{"tools", vesk::tools}}).dump());
  // The modern listing adds the cache hints, which a modern client requires.
  json modern = json::parse(vesk::listing(vesk::Era::modern));
  EXPECT_EQ(modern["tools"], vesk::tools);
  EXPECT_TRUE(modern["ttlMs"].is_number_unsigned());
  EXPECT_EQ(modern["cacheScope"], "public");
}
