#include "bridge/tools.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "bridge/exchange.h"
#include "front/output.h"
#include "front/reader.h"
#include "front/startup.h"
#include "front/workers.h"

namespace vesk {

namespace {

using nlohmann::json;

// A modern call in flight, which its client may cancel until it is answered.
struct Cancellable {
  explicit Cancellable(json requestId) : id(std::move(requestId)) {}
  json id;
  std::atomic<bool> cancelled{false};
};

std::mutex cancellableLock;
std::vector<Cancellable*> cancellable;  // the modern calls in flight, guarded by the lock

// Keeps a modern call in `cancellable` for as long as it lives: from before its hand-over until
// its work item is destroyed, after it has answered.
class Listed {
 public:
  explicit Listed(Cancellable* call) : listed(call) {
    if (listed == nullptr) return;
    std::lock_guard<std::mutex> hold(cancellableLock);
    cancellable.push_back(listed);
  }
  Listed(Listed&& other) noexcept : listed(std::exchange(other.listed, nullptr)) {}
  Listed(const Listed&) = delete;
  Listed& operator=(const Listed&) = delete;
  Listed& operator=(Listed&&) = delete;
  ~Listed() {
    if (listed == nullptr) return;
    std::lock_guard<std::mutex> hold(cancellableLock);
    cancellable.erase(std::find(cancellable.begin(), cancellable.end(), listed));
  }

 private:
  Cancellable* listed;
};

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

// Answers a call whose memory ran out, and stayed out, before its answer, which is written last:
// it still gets one, the no-answer result, once there is room again. Failing again, it is lost
// alone.
void lost(const json& id, Era era, const std::atomic<bool>* cancelled) noexcept {
  try {
    if (cancelled == nullptr || !cancelled->load()) reply(id, result(silent()), era);
  } catch (const std::bad_alloc&) {
  }
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

void call(const json& id, const json& params, Era era, const std::atomic<bool>* cancelled) {
  auto wanted = [cancelled] { return cancelled == nullptr || !cancelled->load(); };
  std::string name = stringMember(params, "name");
  std::optional<json> bridge = request(name, objectMember(params, "arguments"), chat);
  if (!bridge) {
    if (wanted()) failure(id, -32602, "Unknown tool: " + name);
    return;
  }
  json shown = result(ask(*bridge, socketPath));
  if (wanted()) reply(id, shown, era);
}

void cancel(const json& requestId) {
  std::lock_guard<std::mutex> hold(cancellableLock);
  for (Cancellable* pending : cancellable) {
    if (pending->id == requestId) pending->cancelled = true;
  }
}

void handover(const json& id, const json& params, Era era) {
  // The copies are made here, before the call is counted, so that a call lost for want of memory
  // leaves nothing for the wait at end of input to wait on. They are the work item's own: the
  // pool destroys them before the call leaves `running`. A modern call is listed as cancellable
  // before it is handed over, so that no cancellation read after it can miss it.
  std::unique_ptr<Cancellable> ticket;
  if (era == Era::modern) ticket = std::make_unique<Cancellable>(id);
  Listed listed(ticket.get());
  calls.submit(running, [id = json(id), params = json(params), era, ticket = std::move(ticket),
                         listed = std::move(listed)]() mutable {
    Dismantling unmade(params);  // a message's copy may hold millions of values: see Dismantling
    const std::atomic<bool>* cancelled = ticket ? &ticket->cancelled : nullptr;
    try {
      call(id, params, era, cancelled);
    } catch (const std::bad_alloc&) {
      lost(id, era, cancelled);
    }
  });
}

}  // namespace vesk
