// The bytes of a bridge reply through parsing and shaping into the tool result the agent sees.
// Boost.JSON's own parse, with the reader's nesting bound, is the reference for what must be
// accepted and for what must be kept of it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "bridge/exchange.h"
#include "bridge/tools.h"
#include "capture.h"
#include "front/json.h"
#include "front/writer.h"
#include "reference.h"

namespace {

namespace json = vesk::json;

// The members of a reply that a tool result is made of: the ones the reader keeps, at any depth
// below the ones it keeps.
bool isKept(std::string_view key) {
  return key == "ok" || key == "text" || key == "error";
}

// What the reader keeps of `value`, a member it keeps: an object's kept members, an array without
// its items, anything else as it is.
json::value kept(const json::value& value) {
  if (value.is_array()) return json::array();
  if (!value.is_object()) return value;
  json::object members;
  for (const json::key_value_pair& member : value.get_object()) {
    if (isKept(member.key())) members[member.key()] = kept(member.value());
  }
  return members;
}

// Whether `ours`, as the reader kept it, is `reference`, as Boost.JSON reads it. The reader keeps
// a number written as a whole one (3.0, 30e-1) as an integer, where the reference has a double;
// and the reference reads a zero with an exponent beyond 308 (0e400) as NaN, which no JSON number
// stands for: the reader's zero is right.
bool same(const json::value& ours, const json::value& reference) {
  if (ours.is_int64() && reference.is_double()) {
    double theirs = reference.get_double();
    return std::isnan(theirs) ? ours.get_int64() == 0
                              : static_cast<double>(ours.get_int64()) == theirs;
  }
  if (!ours.is_object() || !reference.is_object()) return ours == reference;
  const json::object& mine = ours.get_object();
  const json::object& theirs = reference.get_object();
  if (mine.size() != theirs.size()) return false;
  for (const json::key_value_pair& member : theirs) {
    const json::value* found = mine.if_contains(member.key());
    if (found == nullptr || !same(*found, member.value())) return false;
  }
  return true;
}

enum class Verdict { object, refused, mended };

// What replyFrom() must make of `bytes`, by the reference: the object they hold, when they are
// exactly one JSON object nested no deeper than the bound (after the byte order mark the reader
// passes over); refused, when they are not; or mended, when only the reader's own mending can
// tell.
Verdict judge(std::string_view bytes, json::value& parsed) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  json::error_code ec;
  parsed = fuzzing::reference(bytes, ec);
  if (!ec) return parsed.is_object() ? Verdict::object : Verdict::refused;
  return fuzzing::mendable(bytes) ? Verdict::mended : Verdict::refused;
}

// The tool result: exactly `content` (one text item) and a boolean `isError`, whose text is the
// reply's own when it gives one.
void checkResult(const json::object& reply, const json::object& shown) {
  const json::value* isError = shown.if_contains("isError");
  const json::value* content = shown.if_contains("content");
  bool shaped = shown.size() == 2 && isError != nullptr && isError->is_bool() &&
                content != nullptr && content->is_array() && content->get_array().size() == 1;
  if (!shaped) fuzzing::fail("malformed tool result", json::serialize(shown));
  const json::object* item = content->get_array()[0].if_object();
  const json::value* type = item != nullptr ? item->if_contains("type") : nullptr;
  const json::value* text = item != nullptr ? item->if_contains("text") : nullptr;
  bool typed = type != nullptr && type->is_string() && type->get_string() == "text";
  if (item == nullptr || item->size() != 2 || !typed || text == nullptr || !text->is_string())
    fuzzing::fail("malformed content item", json::serialize(shown));
  const json::value* ok = reply.if_contains("ok");
  bool done = ok != nullptr && ok->is_bool() && ok->get_bool();
  if (isError->get_bool() == done)
    fuzzing::fail("isError does not follow ok", json::serialize(shown));
  const json::value* said = reply.if_contains(done ? "text" : "error");
  if (said != nullptr && said->is_string() && *text != *said)
    fuzzing::fail("the host's text was not kept", json::serialize(shown));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzzing::divert();
  vesk::Document reply = vesk::replyFrom(bytes);
  // Kept apart from the Document, whose members the tool result takes, as call() gives them.
  json::object read(reply.root(), json::storage_ptr());
  json::object shown = vesk::result(std::move(reply.root()));
  fuzzing::Written written = fuzzing::restore();
  if (!written.out.empty() || !written.err.empty())
    fuzzing::fail("wrote output", written.out + written.err);

  json::value parsed;
  Verdict verdict = judge(bytes, parsed);
  if (verdict == Verdict::object && !same(read, kept(parsed)))
    fuzzing::fail("reply differs from the reference reader",
                  json::serialize(read) + "\nreference: " + json::serialize(kept(parsed)));
  if (verdict == Verdict::refused && read != vesk::silent().root())
    fuzzing::fail("a reply the reference refuses was read", json::serialize(read));
  checkResult(read, shown);

  // The result as reply() writes it must read back as itself: a string the writer escaped wrongly,
  // or text that is not UTF-8, would not.
  std::string line = vesk::compact(shown);
  json::error_code ec;
  json::value back = json::parse(line, ec);
  if (ec || back != shown) fuzzing::fail("tool result does not read back", line);
  return 0;
}
