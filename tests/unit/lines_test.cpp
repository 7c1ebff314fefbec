#include "front/lines.h"

#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Every line a reader makes of `input`, fed through a pipe in pieces of `piece` bytes.
std::vector<std::string> lines(const std::string& input, std::size_t piece = 1 << 20) {
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  std::thread writer([&] {
    for (std::size_t at = 0; at < input.size(); at += piece) {
      std::string part = input.substr(at, piece);
      EXPECT_EQ(::write(ends[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
    }
    ::close(ends[1]);
  });
  vesk::Lines reader(ends[0]);
  std::vector<std::string> result;
  std::string_view line;
  while (reader.next(line)) result.emplace_back(line.data(), line.size());
  writer.join();
  ::close(ends[0]);
  return result;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(Lines, SplitAtLineFeedsAndDropOnlyTheCarriageReturnBeforeThem) {
  struct Case {
    std::string input;
    Lines expected;
  } cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"last without end", {"last without end"}},
      {"a\n\n\nb", {"a", "", "", "b"}},
      {"\r\n", {""}},
      {"mid\rdle\n", {"mid\rdle"}},
      {"two\r\r\n", {"two\r"}},
      {"trailing cr\r", {"trailing cr\r"}},  // only a CR before an LF goes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(lines(c.input), c.expected);
    EXPECT_EQ(lines(c.input, 1), c.expected);  // the same when bytes arrive one at a time
  }
}

TEST(Lines, LongLinesAndLineEndsAcrossReadsSurviveWhole) {
  std::string big(200000, 'x');
  EXPECT_EQ(lines(big + "\n" + big), (Lines{big, big}));
  // A CR as the last byte of one read and its LF as the first of the next.
  std::string edge(65535, 'y');
  EXPECT_EQ(lines(edge + "\r\nz", 65536), (Lines{edge, "z"}));
}
