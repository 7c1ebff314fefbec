#include "front/reader.h"

#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

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
    EXPECT_EQ(vesk::repair(c.in), c.out);
  }
}

namespace {

using nlohmann::json;

json parsed(const std::string& text) {
  return vesk::parseReply(text);
}

}  // namespace

TEST(Parse, AcceptsOneJsonObjectOnly) {
  for (std::string text : {"{}", " {\"a\":1}\n", "\xEF\xBB\xBF{}", "{\"a\":[1,{\"b\":2}]}\r\n"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parsed(text).is_object());
  }
  // A raw NUL would end the reader's input early, leaving the rest unread.
  using namespace std::string_literals;
  const std::string refused[] = {
      "",      " ",     "{",       "{}{}",        "{} x", "{'a':1}",          "{\"a\":1,}",
      "NaN",   "[1,2]", "\"s\"",   "3",           "null", "{\"a\":\"\xC3\"}", "{\"a\":01}",
      "{} []", "{}\0"s, "{}\0{}"s, "{\"a\0\":1}"s};
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parsed(text).is_discarded());
  }
}

TEST(Parse, BoundsNestingButNotBracketsInStrings) {
  auto nested = [](std::size_t depth) {  // the object counts as the first level
    return "{\"a\":" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  const std::size_t deepest = 512;
  EXPECT_FALSE(parsed(nested(deepest)).is_discarded());
  EXPECT_TRUE(parsed(nested(deepest + 1)).is_discarded());
  EXPECT_TRUE(parsed(nested(1000000)).is_discarded());  // refused, not a stack overflow
  std::string quoted = "{\"a\":\"" + std::string(10000, '[') + "\\\"{\"}";
  EXPECT_FALSE(parsed(quoted).is_discarded());
}

TEST(Parse, RefusesARawNulByteWhereverItIs) {
  // No JSON text holds a raw NUL byte; a reader that stops at one would take whatever follows
  // for no input at all.
  using namespace std::string_literals;
  for (std::string text : {"{\"ok\":true}\0"s, "{\"ok\":true}\0{\"ok\":false}"s,
                           "{}\0{"s + std::string(600, '[') + "}",
                           "{\"id\":1,\"method\":\"ping\"}\0 junk"s, "\0{}"s, "{\"a\":\"\0\"}"s}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parsed(text).is_discarded());
  }
  EXPECT_EQ(parsed("{\"text\":\"\\u0000\"}")["text"], "\0"s);  // the escape is fine
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
    EXPECT_EQ(parsed("{\"t\":\"" + c.escaped + "\"}")["t"], c.read);
  }
  EXPECT_TRUE(parsed(R"({"t":"\ud83"})").is_discarded());  // a short escape is still an error
}

TEST(Parse, RepairsBrokenBytesInTheClientsLinesButNotInTheHostsReplies) {
  std::string broken =
      "{\"t\":\"a\xFF"
      "b\xE2\x80\"}";
  EXPECT_TRUE(vesk::parseReply(broken).is_discarded());
  EXPECT_EQ(vesk::parseLine(broken)["t"],
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  // Both at once: a lone surrogate's escape among broken bytes.
  EXPECT_EQ(vesk::parseLine("{\"t\":\"\\ud83d\xFF\"}")["t"], "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Parse, ReadsWholeNumbersAsWrittenButTheIdAsItCame) {
  json read = parsed(R"({"id":2.0,"a":3.0,"b":-9223372036854775809,"c":[1e2,2.5],"d":{"id":4.0}})");
  EXPECT_TRUE(read["id"].is_number_float());  // written back unchanged
  EXPECT_EQ(read["a"].dump(), "3");
  EXPECT_TRUE(read["b"].is_number_float());
  EXPECT_EQ(read["c"].dump(), "[100,2.5]");
  EXPECT_EQ(read["d"].dump(), R"({"id":4})");  // only the top-level id is kept as written
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
    json n = parsed(std::string("{\"n\":") + c.written + "}")["n"];
    if (c.whole) {
      EXPECT_TRUE(n.is_number_integer());
      EXPECT_EQ(n.get<std::int64_t>(), *c.whole);
    } else {
      EXPECT_TRUE(n.is_number_float());
    }
  }
  // Beyond binary64 the whole text is refused, whatever member holds the number.
  EXPECT_TRUE(parsed(R"({"n":1e999999999999999999})").is_discarded());
}

TEST(Dismantling, LeavesAnEmptyValueOfTheSameKind) {
  json value = parsed(R"({"a":[1,[2,{"b":[]}]],"c":"x"})");
  { vesk::Dismantling unmade(value); }
  EXPECT_EQ(value, json::object());
}
