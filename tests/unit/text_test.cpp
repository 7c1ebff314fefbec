#include <gtest/gtest.h>

#include <string>

#include "front/text.h"

TEST(Repair, KeepsValidTextAndReplacesEachIllFormedSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80"},
      {"a\x80z", "a" + r + "z"},                    // lone continuation byte
      {"a\xC3", "a" + r},                           // truncated at the end
      {"\xE2\x80z", r + "z"},                       // truncated before ASCII: one replacement
      {"\xC0\xAF", r + r},                          // overlong form
      {"\xED\xA0\x80", r + r + r},                  // an encoded surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},          // above U+10FFFF
      {"\xF0\x9F\x98", r},                          // a four-byte sequence cut short
      {"\xFF\xFE", r + r},                          // bytes that never occur in UTF-8
      {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(vesk::repair(c.in), c.out);
  }
}

TEST(Parse, AcceptsOneJsonTextOnly) {
  for (std::string text : {"{}", " {\"a\":1}\n", "[1,2]", "\"s\"", "3", "null"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(vesk::parse(text).is_discarded());
  }
  // A raw NUL would end the reader's input early, leaving the rest unread.
  const std::string refused[] = {"", " ", "{", "{}{}", "{} x", "{'a':1}", "{\"a\":1,}", "NaN", "\"\xC3\"",
                                 "\"\\ud800\"", "{\"a\":01}", std::string("{}\0", 3),
                                 std::string("{}\0{}", 5), std::string("[\"a\0\"]", 6)};
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(vesk::parse(text).is_discarded());
  }
}

TEST(Parse, BoundsNestingButNotBracketsInStrings) {
  auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_FALSE(vesk::parse(nested(vesk::deepest)).is_discarded());
  EXPECT_TRUE(vesk::parse(nested(vesk::deepest + 1)).is_discarded());
  EXPECT_TRUE(vesk::parse(nested(1000000)).is_discarded());  // refused, not a stack overflow
  std::string quoted = "[\"" + std::string(10000, '[') + "\\\"{\"]";
  EXPECT_FALSE(vesk::parse(quoted).is_discarded());
}

TEST(Parse, RefusesARawNulByteWhereverItIs) {
  // No JSON text holds a raw NUL byte; a reader that stops at one would take whatever follows
  // for no input at all.
  using namespace std::string_literals;
  for (std::string text : {"{\"ok\":true}\0"s, "{\"ok\":true}\0{\"ok\":false}"s, "{}\0["s + std::string(600, '['),
                           "{\"id\":1,\"method\":\"ping\"}\0 junk"s, "\0{}"s, "{\"a\":\"\0\"}"s}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(vesk::parse(text).is_discarded());
  }
  EXPECT_EQ(vesk::parse("{\"text\":\"\\u0000\"}")["text"], "\0"s);  // the escape is fine
}
