// Chat lists from a file: what is taken, and the one-line complaint for everything else.
#include "chats.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/host.h"

using testing_support::Folder;

namespace {

std::string written(const Folder& folder, const std::string& text) {
  std::string file = folder.path + "/chats.json";
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

}  // namespace

TEST(Chats, LoadsAFile) {
  Folder folder;
  std::string problem;
  auto chats = demo::load(written(folder, R"([
    {"id": "a", "name": "Alpha", "agent": "Claude", "folder": "/src/a", "busy": true,
     "messages": [{"author": "person", "text": "hello"}]},
    {"id": "b", "name": "", "agent": "Codex", "folder": ""}
  ])"),
                          problem);
  ASSERT_TRUE(chats) << problem;
  ASSERT_EQ(chats->size(), 2u);
  const demo::Chat& a = (*chats)[0];
  EXPECT_EQ(std::tie(a.id, a.name, a.agent, a.folder, a.busy),
            std::make_tuple("a", "Alpha", "Claude", "/src/a", true));
  ASSERT_EQ(a.messages.size(), 1u);
  EXPECT_EQ(a.messages[0].author + ": " + a.messages[0].text, "person: hello");
  EXPECT_FALSE((*chats)[1].busy);
  EXPECT_TRUE((*chats)[1].messages.empty());
}

TEST(Chats, LoadsTheExampleFile) {
  std::string problem;
  auto chats = demo::load(EXAMPLE_CHATS, problem);
  ASSERT_TRUE(chats) << problem;
  EXPECT_EQ(chats->size(), 2u);
}

TEST(Chats, RefusesAFileItCannotUse) {
  const std::string chat = R"("id":"a","name":"A","agent":"Claude","folder":"/a")";
  struct Case {
    std::string text, problem;  // `problem` follows the file's name
  } cases[] = {
      {"{", " must hold a JSON array of chats, at least one"},
      {"[]", " must hold a JSON array of chats, at least one"},
      {"{\"chats\":[]}", " must hold a JSON array of chats, at least one"},
      {"[{" + chat + "}]" + std::string(1, '\0') + "x",
       " must hold a JSON array of chats, at least one"},
      {"[1]", ": chat 1 is not an object"},
      {R"([{"name":"A","agent":"Claude","folder":"/a"}])",
       ": chat 1 needs a non-empty string \"id\""},
      {R"([{"id":"","name":"A","agent":"Claude","folder":"/a"}])",
       ": chat 1 needs a non-empty string \"id\""},
      {R"([{"id":"a","agent":"Claude","folder":"/a"}])", ": chat 1 needs a string \"name\""},
      {R"([{"id":"a","name":"A","agent":"claude","folder":"/a"}])",
       ": chat 1 needs \"agent\" \"Claude\" or \"Codex\""},
      {R"([{"id":"a","name":"A","agent":"Codex"}])", ": chat 1 needs a string \"folder\""},
      {"[{" + chat + ",\"busy\":1}]", ": chat 1 has a \"busy\" that is not true or false"},
      {"[{" + chat + ",\"messages\":[{\"text\":\"x\"}]}]",
       ": chat 1 has \"messages\" that are not objects with string \"author\" and \"text\""},
      {"[{" + chat + "},{" + chat + "}]", ": chat 2 repeats the id \"a\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Folder folder;
    std::string file = written(folder, c.text), problem;
    EXPECT_FALSE(demo::load(file, problem));
    EXPECT_EQ(problem, file + c.problem);
  }
  std::string problem;
  EXPECT_FALSE(demo::load("/nonexistent/chats.json", problem));
  EXPECT_EQ(problem, "cannot read /nonexistent/chats.json");
}
