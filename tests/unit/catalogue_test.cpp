#include "front/catalogue.h"

#include <gtest/gtest.h>

namespace json = boost::json;

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

json::value chatProperty() {
  return {{"type", "string"}, {"description", "The other chat's id, from vesk_list_chats."}};
}

}  // namespace

TEST(Catalogue, IsExactlyTheThreeToolsInOrder) {
  json::array expected = {
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
  };
  EXPECT_EQ(vesk::catalogue, expected);
}

TEST(Catalogue, TextsAndNumbersKeepTheirExactForm) {
  const json::array& tools = vesk::catalogue;
  auto tool = [&](std::size_t i) -> const json::object& { return tools.at(i).as_object(); };
  EXPECT_EQ(tool(0).at("description").as_string().size(), 212u);
  EXPECT_EQ(tool(1).at("description").as_string().size(), 495u);
  EXPECT_EQ(tool(2).at("description").as_string().size(), 104u);
  // Integers stay integers and hints stay booleans once written out.
  std::string written = json::serialize(tools);
  EXPECT_NE(written.find(R"("maximum":20)"), std::string::npos);
  EXPECT_NE(written.find(R"("minimum":1)"), std::string::npos);
  EXPECT_NE(written.find(R"(marked \"you\" is)"), std::string::npos);
  EXPECT_EQ(written.find("20.0"), std::string::npos);
  const json::object& schema = tool(0).at("inputSchema").as_object();
  EXPECT_TRUE(schema.at("properties").is_object());
  EXPECT_FALSE(schema.contains("required"));
}

TEST(Catalogue, ListingIsTheWholeCatalogueAsOneResult) {
  EXPECT_EQ(json::parse(vesk::listing(vesk::Era::legacy)),
            (json::object{{"tools", vesk::catalogue}}));
  // The modern listing adds the cache hints, which a modern client requires.
  json::object modern = json::parse(vesk::listing(vesk::Era::modern)).as_object();
  EXPECT_EQ(modern["tools"], vesk::catalogue);
  EXPECT_EQ(modern["ttlMs"], json::value(3600000));
  EXPECT_EQ(modern["cacheScope"], "public");
}
