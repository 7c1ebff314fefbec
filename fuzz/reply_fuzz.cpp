// The bytes of a bridge reply through parsing and shaping into the tool result the agent sees.
// nlohmann's own reader, with the nesting it reports, is the reference for what must be accepted.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bridge/exchange.h"
#include "bridge/tools.h"
#include "capture.h"

namespace {

using nlohmann::json;

// What answer() must make of `bytes`: the object they hold when they are exactly one JSON object
// nested no deeper than the bound, otherwise the no-answer reply.
json reference(std::string_view bytes) {
  int deepest = 0;
  json::parser_callback_t measure = [&](int depth, json::parse_event_t event, json&) {
    if (event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) {
      deepest = std::max(deepest, depth + 1);
    }
    return true;
  };
  json parsed = json::parse(bytes.begin(), bytes.end(), measure, false);
  // nlohmann stops at a raw NUL byte as if the input ended there; strict JSON has none.
  bool strict = bytes.find('\0') == std::string_view::npos;
  bool usable = strict && parsed.is_object() && deepest <= 512;  // the reader's bound
  return usable ? parsed : vesk::silent();
}

// The tool result: exactly `content` (one text item) and a boolean `isError`, whose text is the
// reply's own when it gives one.
void checkResult(const json& reply, const json& shown) {
  bool shaped = shown.is_object() && shown.size() == 2 && shown.contains("isError") &&
                shown["isError"].is_boolean() && shown.contains("content") &&
                shown["content"].is_array() && shown["content"].size() == 1;
  if (!shaped) fuzzing::fail("malformed tool result", shown.dump());
  const json& item = shown["content"][0];
  if (!item.is_object() || item.size() != 2 || item.value("type", json()) != "text" ||
      !item.value("text", json()).is_string()) {
    fuzzing::fail("malformed content item", shown.dump());
  }
  bool done = reply.value("ok", json()) == true;
  if (shown["isError"] == done) fuzzing::fail("isError does not follow ok", shown.dump());
  json said = reply.value(done ? "text" : "error", json());
  if (said.is_string() && item["text"] != said)
    fuzzing::fail("the host's text was not kept", shown.dump());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzzing::divert();
  json reply = vesk::replyFrom(bytes);
  json shown = vesk::result(reply);
  fuzzing::Written written = fuzzing::restore();
  if (!written.out.empty() || !written.err.empty())
    fuzzing::fail("wrote output", written.out + written.err);
  // nlohmann refuses the escape of a lone surrogate, which answer() reads as U+FFFD.
  bool surrogates =
      bytes.find("\\ud") != std::string_view::npos || bytes.find("\\uD") != std::string_view::npos;
  if (!surrogates && reply != reference(bytes))
    fuzzing::fail("reply differs from the reference reader", reply.dump());
  checkResult(reply, shown);
  // A result that cannot be written would be dropped, leaving the call unanswered.
  std::string line;
  try {
    line = shown.dump();
  } catch (const json::exception& e) {
    fuzzing::fail("tool result cannot be serialised", e.what());
  }
  if (json::parse(line, nullptr, false) != shown)
    fuzzing::fail("tool result does not read back", line);
  return 0;
}
