#include "front/reader.h"

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "front/utf8.h"

TEST(Repair, KeepsValidTextAndReplacesEachIllFormedSubpart) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\x99 \xF0\x9F\x98\x80"},
      {"a\x80z", "a" + r + "z"},            // lone continuation byte
      {"a\xC3", "a" + r},                   // truncated at the end
      {"\xE2\x80z", r + "z"},               // truncated before ASCII: one replacement
      {"\xC0\xAF", r + r},                  // overlong form
      {"\xED\xA0\x80", r + r + r},          // an encoded surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF0\x9F\x98", r},                  // a four-byte sequence cut short
      {"\xFF\xFE", r + r},                  // bytes that never occur in UTF-8
      {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(vesk::utf8::repaired(c.in), c.out);
  }
}

namespace {

namespace json = boost::json;

// The members these tests read, and an id kept as written, at any depth.
constexpr vesk::Member members[] = {{"a"}, {"b"}, {"c"},    {"d"},
                                    {"n"}, {"t"}, {"text"}, {"id", true}};

// The members kept of a text, copied out of their document; nothing when it is refused.
std::optional<json::object> keptOf(const std::optional<vesk::Document>& read) {
  if (!read) return std::nullopt;
  return json::object(read->root(), json::storage_ptr());
}
std::optional<json::object> asReply(const std::string& text) {
  return keptOf(vesk::parseReply(text, members));
}
std::optional<json::object> asLine(const std::string& text) {
  return keptOf(vesk::parseLine(text, members));
}

}  // namespace

TEST(Parse, AcceptsOneJsonObjectOnly) {
  for (std::string text : {"{}", " {\"a\":1}\n", "\xEF\xBB\xBF{}", "{\"a\":[1,{\"b\":2}]}\r\n"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(asReply(text));
  }
  // A reader that stopped at a raw NUL would leave the rest unread.
  using namespace std::string_literals;
  const std::string refused[] = {
      "",      " ",     "{",       "{}{}",        "{} x", "{'a':1}",          "{\"a\":1,}",
      "NaN",   "[1,2]", "\"s\"",   "3",           "null", "{\"a\":\"\xC3\"}", "{\"a\":01}",
      "{} []", "{}\0"s, "{}\0{}"s, "{\"a\0\":1}"s};
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(asReply(text));
  }
}

TEST(Parse, BoundsNestingButNotBracketsInStrings) {
  auto nested = [](std::size_t depth) {  // the object counts as the first level
    return "{\"a\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  const std::size_t deepest = 512;
  EXPECT_TRUE(asReply(nested(deepest)));
  EXPECT_FALSE(asReply(nested(deepest + 1)));
  EXPECT_FALSE(asReply(nested(1000000)));  // refused, not a stack overflow
  std::string quoted = "{\"a\":\"" + std::string(10000, '[') + "\\\"{\"}";
  EXPECT_TRUE(asReply(quoted));
  // As deep in a member kept as written, whose text goes back.
  std::string brackets = std::string(deepest - 1, '[') + std::string(deepest - 1, ']');
  EXPECT_EQ(asReply("{\"id\":" + brackets + "}")->at("id"), json::value(brackets));
}

TEST(Parse, RefusesARawNulByteWhereverItIs) {
  // No JSON text holds a raw NUL byte; a reader that stops at one would take whatever follows
  // for no input at all.
  using namespace std::string_literals;
  for (std::string text : {"{\"ok\":true}\0"s, "{\"ok\":true}\0{\"ok\":false}"s,
                           "{}\0{"s + std::string(600, '[') + "}",
                           "{\"id\":1,\"method\":\"ping\"}\0 junk"s, "\0{}"s, "{\"a\":\"\0\"}"s}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(asReply(text));
  }
  EXPECT_EQ(asReply("{\"text\":\"\\u0000\"}")->at("text"),
            json::value("\0"s));  // the escape is fine
}

TEST(Parse, ReadsLoneSurrogateEscapesAsReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string escaped, read;
  } cases[] = {
      {R"(cut emoji \ud83d)", "cut emoji " + r},
      {R"(\udc00)", r},
      {R"(\uDC00\uD83D)", r + r},               // a reversed pair: two lone halves
      {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},  // a valid pair stays what it encodes
      {R"(\ud83d\u0041)", r + "A"},             // a high half before another escape
      {R"(\ud83d\ud83d\ude00)", r + "\xF0\x9F\x98\x80"},
      {R"(\\ud83d)", "\\ud83d"},  // an escaped backslash starts no escape
      {R"(\\\ud83d)", "\\" + r},
      {R"(\u00e9\ud800)", "\xC3\xA9" + r},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(asReply("{\"t\":\"" + c.escaped + "\"}")->at("t"), json::value(c.read));
  }
  EXPECT_FALSE(asReply(R"({"t":"\ud83"})"));  // a short escape is still an error
}

TEST(Parse, RepairsBrokenBytesInTheClientsLinesButNotInTheHostsReplies) {
  std::string broken =
      "{\"t\":\"a\xFF"
      "b\xE2\x80\"}";
  EXPECT_FALSE(asReply(broken));
  EXPECT_EQ(asLine(broken)->at("t"), json::value("a\xEF\xBF\xBD"
                                                 "b\xEF\xBF\xBD"));
  // Both at once: a lone surrogate's escape among broken bytes.
  EXPECT_EQ(asLine("{\"t\":\"\\ud83d\xFF\"}")->at("t"), json::value("\xEF\xBF\xBD\xEF\xBF\xBD"));
}

// Only the members asked for are kept, at any depth below kept ones; arrays are kept empty, and an
// id as the compact text it was written in, numbers exactly as they came.
TEST(Parse, KeepsTheMembersAskedForAndTheIdAsWritten) {
  std::optional<json::object> read =
      asReply(R"({"id":2.0,"a":3.0,"b":-9223372036854775809,"c":[1e2,2.5],"zz":{"a":1},)"
              R"("d":{"id":{"x" : [1, "q\n\u0041\u001f"], "y":-0},"z":1,"t":"x"}})");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->at("id"), json::value("2.0"));
  EXPECT_EQ(read->at("a"), json::value(3));
  EXPECT_TRUE(read->at("b").is_double());
  EXPECT_EQ(read->at("c"), json::array());
  EXPECT_FALSE(read->contains("zz"));
  EXPECT_EQ(read->at("d"), (json::object{{"id", R"({"x":[1,"q\nA\u001f"],"y":-0})"}, {"t", "x"}}));
  // A repeated member counts once, the last time, whether it is kept as a value or as written.
  EXPECT_EQ(asReply(R"({"a":1,"id":1,"a":{"b":2},"id":"x"})"),
            (json::object{{"a", {{"b", 2}}}, {"id", "\"x\""}}));
}

TEST(Parse, ReadsANumberWrittenAsAWholeOneWithinSigned64BitsAsThatInteger) {
  struct Case {
    const char* written;
    std::optional<std::int64_t> whole;
  } cases[] = {
      {"3.0", 3},
      {"30e-1", 3},
      {"0.03e2", 3},
      {"-0.0", 0},
      {"0e999999999999999999", 0},
      {"1E2", 100},
      {"2.5", std::nullopt},
      {"1e-400", std::nullopt},
      {"4.0000000000000001", std::nullopt},
      {"9223372036854775807.0", INT64_MAX},
      {"9223372036854775808.0", std::nullopt},
      {"-9223372036854775808.0", INT64_MIN},
      {"-9.223372036854775808e18", INT64_MIN},
      {"-9223372036854775809", std::nullopt},
      {"-9223372036854776000", std::nullopt},
      {"-9223372036854775809.0", std::nullopt},
      {"9007199254740993.0", 9007199254740993},
      {"1e19", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    json::value n = asReply(std::string("{\"n\":") + c.written + "}")->at("n");
    if (c.whole) {
      EXPECT_EQ(n, json::value(*c.whole));
    } else {
      EXPECT_TRUE(n.is_double());
    }
  }
}

// Numbers beyond binary64 are valid JSON: a text that holds one is read like any other, and an id
// among them is written as it came, even one whose exponent the parser itself cannot take.
TEST(Parse, NumbersBeyondBinary64AreRead) {
  const std::string numbers[] = {"1e400",
                                 "-1e400",
                                 "1e-400",
                                 std::string(400, '9'),
                                 "1e999999999999999999",
                                 "-2.5E-99999999999",
                                 "1e0000000001"};
  for (const std::string& number : numbers) {
    // Alone, and beside a lone surrogate, which has the reader mend the text before it reads it.
    for (std::string beside : {"", R"(,"t":"\ud800")"}) {
      SCOPED_TRACE(number + beside);
      std::optional<json::object> read =
          asReply("{\"n\":" + number + ",\"id\":" + number + beside + "}");
      ASSERT_TRUE(read);
      EXPECT_TRUE(read->at("n").is_number());
      EXPECT_EQ(read->at("id"), json::value(number));
    }
  }
  // A string that reads like one is no number, and stays as it was written.
  EXPECT_EQ(asReply(R"({"t":"1e9999999999","n":1e9999999999})")->at("t"),
            json::value("1e9999999999"));
}
