// What the two floor programs share: reading lines from standard input and pulling a value out of a
// line by plain string search. The floor does no JSON work at all; the benchmark's requests are
// written so that a string search finds exactly the right bytes.
#pragma once

#include <unistd.h>

#include <string>
#include <string_view>

namespace floorline {

// The raw value after `"key":` up to the next `,` or `}` (a number in the benchmark's requests), or
// the string after `"key":"` up to its closing quote when `quoted`.
inline std::string_view member(std::string_view line, std::string_view key, bool quoted) {
  std::string pattern = "\"" + std::string(key) + (quoted ? "\":\"" : "\":");
  std::size_t at = line.find(pattern);
  if (at == std::string_view::npos) return {};
  at += pattern.size();
  std::size_t end = quoted ? line.find('"', at) : line.find_first_of(",}", at);
  return end == std::string_view::npos ? std::string_view{} : line.substr(at, end - at);
}

// Writes all of `bytes` to `fd`; false once the peer is gone.
inline bool whole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Calls `each` with every line of standard input, without its LF, until input ends.
template <typename Each>
void lines(Each each) {
  std::string pending;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) return;
    pending.append(chunk, static_cast<std::size_t>(n));
    std::size_t start = 0, end;
    while ((end = pending.find('\n', start)) != std::string::npos) {
      each(std::string_view(pending).substr(start, end - start));
      start = end + 1;
    }
    pending.erase(0, start);
  }
}

}  // namespace floorline
