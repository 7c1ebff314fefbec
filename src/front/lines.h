// Reading standard input one line at a time. A reader belongs to one thread.
#pragma once

#include <cstddef>
#include <string>

namespace vesk {

// Splits what arrives on a descriptor into lines. A line ends at LF, which is not part of it, and
// neither is a CR just before the LF; a last line without LF still counts. The bytes are returned
// as they came; repairing their UTF-8 is the caller's business.
class Lines {
 public:
  explicit Lines(int fd) : fd(fd) {}

  // Puts the next line into `line`; false once the input is exhausted or can no longer be read.
  bool next(std::string& line);

 private:
  bool more();  // reads another chunk; false at end of input or on an error

  int fd;
  std::string pending;      // bytes read and not yet returned, from `start` on
  std::size_t start = 0;    // where the next line begins in `pending`
  std::size_t scanned = 0;  // how far `pending` is known to hold no LF, so long lines scan once
  bool ended = false;
};

}  // namespace vesk
