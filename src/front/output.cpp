#include "front/output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

namespace vesk {

namespace {

// Guards standard output, so that lines written at once from several threads never interleave. It
// is held for the write alone.
std::mutex writeLock;

// Writes all of `text` to standard output; gives up once the descriptor fails for good. A client
// may hand over a non-blocking pipe: when it is full, this waits for the client to read, since a
// line cut short would corrupt every line after it.
void whole(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;  // interrupted, not failed
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    if (n <= 0) return;  // the client is gone; nobody is left to tell
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// `value` as compact JSON text, or nothing when it holds invalid UTF-8.
std::optional<std::string> serialised(const nlohmann::json& value) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

// The id as dump() writes it. Integers, the usual ids, are written directly: setting up the JSON
// writer costs more than the digits.
std::optional<std::string> identifier(const nlohmann::json& id) {
  if (id.is_number_unsigned()) return std::to_string(id.get<std::uint64_t>());
  if (id.is_number_integer()) return std::to_string(id.get<std::int64_t>());
  return serialised(id);
}

// Writes `line`, one whole response already serialised and ending in LF, as it is.
void emit(std::string_view line) {
  if (line.empty()) return;
  std::lock_guard<std::mutex> hold(writeLock);
  whole(line);
}

// Writes `message` as one line.
void output(const nlohmann::json& message) {
  // Serialise outside the lock, so a large answer holds up no other writer. A message with invalid
  // UTF-8 in a string is dropped rather than written as broken JSON.
  std::optional<std::string> line = serialised(message);
  if (!line) return;
  *line += '\n';
  emit(*line);
}

// What a modern result carries besides its own members, spliced in as its first members.
std::string_view modernMembers() {
  static const std::string text = [] {
    nlohmann::json info = {{"name", serverName}, {"version", serverVersion}};
    std::string meta = nlohmann::json{{"io.modelcontextprotocol/serverInfo", info}}.dump();
    return "\"_meta\":" + meta + ",\"resultType\":\"complete\"";
  }();
  return text;
}

// The success response line for request `id`, LF included, around `result`, the compact JSON
// text of the result object. For the legacy era it is byte for byte what output() would write for
// the same envelope. Empty when `id` cannot be serialised.
std::string envelope(const nlohmann::json& id, std::string_view result, Era era) {
  // Spliced by hand rather than built as an object and dumped: the envelope costs more than most
  // results. The members come in the order dump() gives them, sorted by name.
  std::optional<std::string> written = identifier(id);
  if (!written) return "";
  std::string line = "{\"id\":";
  line.reserve(line.size() + written->size() + result.size() + 160);
  line += *written;
  line += ",\"jsonrpc\":\"2.0\",\"result\":";
  if (era == Era::modern) {
    // The result's own members follow the modern ones, after a comma unless it has none.
    std::string_view members = result.substr(1, result.size() - 2);
    line += '{';
    line += modernMembers();
    if (!members.empty()) line += ',';
    line += members;
    line += '}';
  } else {
    line += result;
  }
  line += "}\n";
  return line;
}

}  // namespace

void reply(const nlohmann::json& id, const nlohmann::json& result, Era era) {
  std::optional<std::string> written = serialised(result);
  if (written) emit(envelope(id, *written, era));
}

void reply(const nlohmann::json& id, Serialised result, Era era) {
  emit(envelope(id, result.text, era));
}

void failure(const nlohmann::json& id, std::int64_t code, const std::string& message) {
  output({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

void failure(const nlohmann::json& id, std::int64_t code, const std::string& message,
             const nlohmann::json& data) {
  nlohmann::json error = {{"code", code}, {"message", message}, {"data", data}};
  output({{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(error)}});
}

}  // namespace vesk
