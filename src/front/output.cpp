#include "front/output.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <mutex>
#include <string>

#include "front/writer.h"

namespace vesk {

namespace {

// Guards standard output, so that lines written at once from several threads never interleave. It
// is held for the write alone.
std::mutex writeLock;

// Writes every byte of `parts` to standard output, in order, with as few system calls as the pipe
// allows; gives up once the descriptor fails for good. A client may hand over a non-blocking pipe:
// when it is full, this waits for the client to read, since a line cut short would corrupt every
// line after it.
void whole(iovec* parts, int count) {
  while (count > 0) {
    ssize_t n = ::writev(STDOUT_FILENO, parts, count);
    if (n < 0 && errno == EINTR) continue;  // interrupted, not failed
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    if (n <= 0) return;  // the client is gone; nobody is left to tell
    auto done = static_cast<std::size_t>(n);
    for (; count > 0 && done >= parts->iov_len; ++parts, --count) done -= parts->iov_len;
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + done;
      parts->iov_len -= done;
    }
  }
}

// Writes one whole response, `pieces` in a row ending in LF. Nothing is copied or allocated, so
// that a call whose memory ran out can still be answered; whatever had to be serialised was,
// before and outside the lock, so that a large answer holds up no other writer.
void emit(std::initializer_list<std::string_view> pieces) {
  iovec parts[8];
  int count = 0;
  for (std::string_view piece : pieces) {
    if (piece.empty()) continue;
    parts[count++] = {const_cast<char*>(piece.data()), piece.size()};
  }
  std::lock_guard<std::mutex> hold(writeLock);
  whole(parts, count);
}

// Every response opens with its id and `jsonrpc`, in the order these lines have always had: their
// members by name.
constexpr std::string_view opening = "{\"id\":";

// What a modern result carries besides its own members, spliced in as its first members. Made
// before main() runs, so that writing a result never needs memory for it.
const std::string modernMembers = [] {
  json::object info = {{"name", serverName}, {"version", serverVersion}};
  json::object meta = {{serverKey, info}};
  return "\"_meta\":" + compact(meta) + ",\"resultType\":\"complete\"";
}();

}  // namespace

void reply(const Id& id, const json::object& result, Era era) {
  std::string text = compact(result);
  reply(id, Serialised{text}, era);
}

void reply(const Id& id, Serialised result, Era era) {
  // The result's own members, without the braces around them: a modern result's come after the
  // two of its era.
  std::string_view members = result.text.substr(1, result.text.size() - 2);
  bool modern = era == Era::modern;
  emit({opening, id.text, ",\"jsonrpc\":\"2.0\",\"result\":{",
        modern ? std::string_view(modernMembers) : "", modern && !members.empty() ? "," : "",
        members, "}}\n"});
}

void failure(const Id& id, std::int64_t code, std::string_view message, const json::object& data) {
  json::object error = {{"code", code}};
  if (!data.empty()) error["data"] = data;
  error["message"] = message;
  std::string text = compact(error);
  emit({"{\"error\":", text, ",\"id\":", id.text, ",\"jsonrpc\":\"2.0\"}\n"});
}

}  // namespace vesk
