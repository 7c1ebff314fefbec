#include "front/startup.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

TEST(Option, TakesTheElementAfterTheFirstWholeMatch) {
  using Args = std::vector<std::string>;
  struct Case {
    Args args;
    std::optional<std::string> chat;
  } cases[] = {
      {{"prog"}, std::nullopt},
      {{"prog", "--chat", "A"}, "A"},
      {{"prog", "--chat", "A", "--chat", "B"}, "A"},
      {{"prog", "--chat"}, std::nullopt},
      {{"prog", "--chat", ""}, ""},
      {{"prog", "--chat", "--other"}, "--other"},
      {{"prog", "--chat=A"}, std::nullopt},
      {{"prog", "--CHAT", "A"}, std::nullopt},
      {{"prog", "x", "--chat", "A", "y"}, "A"},
      {{"--chat", "self"}, "self"},  // the program's own path is searched too
  };
  for (const Case& c : cases) EXPECT_EQ(vesk::option(c.args, "--chat"), c.chat);
}

TEST(Fallback, JoinsHomeAndTheRelativePathWithOneSeparator) {
  const std::string tail = "Library/Application Support/Vesk/bridge.sock";
  EXPECT_EQ(vesk::fallback("/Users/me"), "/Users/me/" + tail);
  EXPECT_EQ(vesk::fallback("/Users/me/"), "/Users/me/" + tail);
  EXPECT_EQ(vesk::fallback("/Users/me//"), "/Users/me/" + tail);
  EXPECT_EQ(vesk::fallback("/"), "/" + tail);
  EXPECT_EQ(vesk::fallback(""), "");  // no home, no default path
}

TEST(Home, PrefersTheVariableAndFallsBackToTheUserDatabase) {
  EXPECT_EQ(vesk::home("/somewhere/else"), "/somewhere/else");
  // Unset or empty: the password database still names a home for the user running the tests.
  std::string database = vesk::home(nullptr);
  EXPECT_FALSE(database.empty());
  EXPECT_EQ(vesk::home(""), database);
}
