// The line reader on raw bytes, and the UTF-8 check and repair of what it returns. The first byte
// of an input picks the size of the pieces the rest arrives in; a sequenced-packet socket hands the
// reader exactly one piece per read, so a line end split across reads is met the same way every
// run.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture.h"
#include "front/json.h"
#include "front/lines.h"
#include "front/utf8.h"

namespace {

// Up to the reader's own chunk of 65,536 bytes, and one short of it.
constexpr std::size_t pieceSizes[] = {1, 2, 3, 7, 64, 4096, 65535, 65536};
constexpr std::size_t largest = 65536;  // one read of the reader, so no packet is ever cut
constexpr std::size_t smallPieces = 256;

std::vector<std::string> readAll(std::string_view payload, std::size_t piece) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
    fuzzing::fail("socketpair");
  std::thread feeder([&] {
    std::size_t pieces = 0;
    for (std::size_t at = 0; at < payload.size();) {
      // Past the first pieces the rest goes in whole chunks, so that long inputs stay fast.
      std::size_t length = ++pieces <= smallPieces ? piece : largest;
      std::string_view part = payload.substr(at, length);
      if (::send(ends[1], part.data(), part.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(part.size()))
        break;
      at += part.size();
    }
    ::shutdown(ends[1], SHUT_WR);  // the reader's end of input
  });
  vesk::Lines reader(ends[0]);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line.data(), line.size());
  feeder.join();
  ::close(ends[0]);
  ::close(ends[1]);
  return lines;
}

// The lines, put back together with the line ends the reader took away, must give the input back:
// an LF after each, a CR before it only where the input had one, and no line made up at the end.
void checkLines(std::string_view input, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    if (line.find('\n') != std::string::npos) fuzzing::fail("LF inside a line", line);
    if (input.substr(at, line.size()) != line) fuzzing::fail("line differs from the input", line);
    at += line.size();
    if (input.substr(at, 2) == "\r\n") {
      at += 2;
    } else if (input.substr(at, 1) == "\n") {
      if (!line.empty() && line.back() == '\r') fuzzing::fail("CR kept before LF", line);
      at += 1;
    } else if (at != input.size() || line.empty()) {
      fuzzing::fail("line not followed by a line end", line);
    }
  }
  if (at != input.size()) fuzzing::fail("input left unread", input.substr(at));
}

// Whether `text` is well-formed UTF-8, by Boost.JSON's own reader: written as a JSON string
// (which escapes only quotes, backslashes and control characters) and read back.
bool valid(std::string_view text) {
  vesk::json::error_code ec;
  vesk::json::parse(vesk::json::serialize(text), ec);
  return !ec;
}

void checkRepair(const std::string& bytes) {
  std::string text = vesk::utf8::repaired(bytes);
  if (!valid(text)) fuzzing::fail("repair left invalid UTF-8", text);
  if (vesk::utf8::repaired(text) != text) fuzzing::fail("repair is not idempotent", text);
  bool wellFormed = valid(bytes);
  if (wellFormed && text != bytes) fuzzing::fail("repair changed valid text", bytes);
  if (vesk::utf8::wellFormed(bytes) != wellFormed)
    fuzzing::fail("wellFormed() differs from the reference", bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t piece = pieceSizes[data[0] % std::size(pieceSizes)];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzzing::divert();
  std::vector<std::string> lines = readAll(input, piece);
  fuzzing::Written written = fuzzing::restore();
  if (!written.out.empty() || !written.err.empty())
    fuzzing::fail("wrote output", written.out + written.err);
  checkLines(input, lines);
  // The lines are repaired one by one, as the reader mends a line; joined, they are checked at one
  // go.
  std::string repaired;
  for (const std::string& line : lines) repaired += vesk::utf8::repaired(line) + '\n';
  checkRepair(repaired);
  checkRepair(std::string(input));
  return 0;
}
