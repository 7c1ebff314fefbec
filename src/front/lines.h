// Reading standard input one line at a time. A reader belongs to one thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Splits what arrives on a descriptor into lines. A line ends at LF, which is not part of it, and
// neither is a CR just before the LF; a last line without LF still counts. The bytes are returned
// as they came; repairing their UTF-8 is the caller's business. The descriptor may be non-blocking
// (a client may hand one over): the reader then waits for it rather than taking "no data yet" for
// the end.
class Lines {
 public:
  explicit Lines(int input) : fd(input) {}

  // Points `line` at the next line, in the reader's own buffer, valid until the next call; false
  // once the input is exhausted or can no longer be read. A line too long for the memory there is
  // skipped whole, never returned in part.
  bool next(std::string_view& line);

 private:
  bool more();     // reads another chunk; false at end of input or on an error
  bool skim();     // reads past the rest of a line that could not be held
  void reclaim();  // drops the lines returned; gives back a buffer that a long line grew

  int fd;
  std::string pending;        // bytes read and not yet returned, from `lineStart` on
  std::size_t lineStart = 0;  // where the next line begins in `pending`
  std::size_t scanned = 0;    // how far `pending` is known to hold no LF, so long lines scan once
  bool ended = false;
  bool skipping = false;  // the line in progress could not be held and is being skipped
};

}  // namespace vesk
