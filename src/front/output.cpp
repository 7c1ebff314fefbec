#include "front/output.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string_view>

#include "front/startup.h"

namespace vesk {

namespace {

// Writes all of `text` to standard output; gives up once the descriptor fails for good.
void whole(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;  // interrupted, not failed
    if (n <= 0) return;                     // the client is gone; nobody is left to tell
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void output(const nlohmann::json& message) {
  std::string line;
  try {
    // Serialise outside the lock, so a large answer holds up no other writer.
    line = message.dump();
  } catch (const nlohmann::json::exception&) {
    return;  // invalid UTF-8 in a string: drop the message rather than write broken JSON
  }
  line += '\n';
  std::lock_guard<std::mutex> hold(writeLock);
  whole(line);
}

void reply(const nlohmann::json& id, nlohmann::json result) {
  output({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void failure(const nlohmann::json& id, std::int64_t code, const std::string& message) {
  output({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

}  // namespace vesk
