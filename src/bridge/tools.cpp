#include "bridge/tools.h"

#include <cstdint>
#include <new>
#include <utility>

#include "bridge/exchange.h"
#include "front/output.h"
#include "front/reader.h"
#include "front/startup.h"
#include "front/workers.h"

namespace vesk {

namespace {

using nlohmann::json;

// `last_n` when it is a whole number within signed 64 bits, else 6. The reader has already made
// an integer of every number written as a whole one in that range (3.0 as 3), so a number still a
// double here is none: a fraction, or beyond the range although its double may round into it.
std::int64_t lastN(const json& given) {
  constexpr std::int64_t unset = 6;
  auto found = given.find("last_n");
  if (found == given.end()) return unset;
  if (found->is_number_unsigned()) {
    auto value = found->get<std::uint64_t>();
    return value <= INT64_MAX ? static_cast<std::int64_t>(value) : unset;
  }
  return found->is_number_integer() ? found->get<std::int64_t>() : unset;
}

}  // namespace

std::optional<json> request(const std::string& name, const json& given, const std::string& from) {
  json bridge = {{"from", from}};
  if (name == "vesk_list_chats") {
    bridge["op"] = "list";
  } else if (name == "vesk_send_to_chat") {
    bridge["op"] = "send";
    bridge["chat"] = stringMember(given, "chat");
    bridge["message"] = stringMember(given, "message");
  } else if (name == "vesk_read_chat") {
    bridge["op"] = "read";
    bridge["chat"] = stringMember(given, "chat");
    bridge["last_n"] = lastN(given);
  } else {
    return std::nullopt;
  }
  return bridge;
}

json result(json said) {
  auto ok = said.find("ok");
  bool done = ok != said.end() && ok->is_boolean() && ok->get<bool>();
  // On success only `text` is read, on failure only `error`; a string is shown as it is, even
  // empty, and anything else gives a fixed text.
  auto text = said.find(done ? "text" : "error");
  std::string shown = text != said.end() && text->is_string()
                          ? std::move(text->get_ref<std::string&>())
                      : done ? "Done."
                             : "Vesk said no.";
  json item = {{"type", "text"}, {"text", std::move(shown)}};
  return {{"content", json::array({std::move(item)})}, {"isError", !done}};
}

void call(const json& id, const json& params) {
  std::string name = stringMember(params, "name");
  std::optional<json> bridge = request(name, objectMember(params, "arguments"), chat);
  if (!bridge) return failure(id, -32602, "Unknown tool: " + name);
  reply(id, result(ask(*bridge, socketPath)));
}

void handover(const json& id, const json& params) {
  // The copies are made here, before the call is counted, so that a call lost for want of memory
  // leaves nothing for the wait at end of input to wait on. They are the work item's own: the
  // queue destroys them before the call leaves `running`.
  calls.submit(running, [id = json(id), params = json(params)]() mutable {
    Dismantling unmade(params);  // a message's copy may hold millions of values: see Dismantling
    try {
      call(id, params);
    } catch (const std::bad_alloc&) {
      // Memory ran out, and stayed out, before the answer, which is written last: the call still
      // gets one, the no-answer result, once there is room again. Failing again, it is lost alone.
      try {
        reply(id, result(silent()));
      } catch (const std::bad_alloc&) {
      }
    }
  });
}

}  // namespace vesk
