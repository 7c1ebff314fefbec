#include "bridge/tools.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bridge/exchange.h"
#include "front/output.h"
#include "front/startup.h"
#include "front/workers.h"
#include "front/writer.h"

namespace vesk {

namespace {

// A call's claim to its answer, which the client of a modern call may give up. A modern call's is
// listed for as long as it lives: from before its hand-over, so that no cancellation read after the
// call can miss it, until its work item is destroyed, after it has answered. A legacy call's is
// never listed: it is always answered.
class Claim {
 public:
  Claim(std::string_view requestId, Era era) : id(requestId), listed(era == Era::modern) {
    if (!listed) return;
    std::lock_guard<std::mutex> hold(lock);
    claims.push_back(this);
  }
  ~Claim() {
    if (!listed) return;
    std::lock_guard<std::mutex> hold(lock);
    claims.erase(std::find(claims.begin(), claims.end(), this));
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;

  bool wanted() const { return !given.load(); }

  // Gives up the claim of every listed call whose id is written `requestId`.
  static void cancel(std::string_view requestId) {
    std::lock_guard<std::mutex> hold(lock);
    for (Claim* claim : claims) {
      if (claim->id == requestId) claim->given = true;
    }
  }

 private:
  static inline std::mutex lock;
  static inline std::vector<Claim*> claims;  // the listed ones, guarded by `lock`

  const std::string id;  // its own copy: the call's message may go first
  const bool listed;
  std::atomic<bool> given{false};
};

// `last_n` when it is a whole number within signed 64 bits, else 6. The reader has already made
// an integer of every number written as a whole one in that range (3.0 as 3), so a number still a
// double here is none: a fraction, or beyond the range although its double may round into it.
std::int64_t lastN(const json::object& given) {
  const json::value* found = given.if_contains("last_n");
  return found != nullptr && found->is_int64() ? found->get_int64() : 6;
}

// The answer of a call whose memory ran out before its answer was written: the no-answer result,
// made before main() runs, so that writing it needs no memory at all.
const std::string unanswered = compact(result(std::move(silent().root())));

void call(const Id& id, const json::object& params, Era era, const Claim& claim) {
  std::string_view name = stringMember(params, "name");
  std::optional<json::object> bridge = request(name, objectMember(params, "arguments"), chat);
  if (!bridge) {
    if (claim.wanted()) failure(id, -32602, std::string("Unknown tool: ").append(name));
    return;
  }
  Document said = ask(*bridge, socketPath);
  json::object shown = result(std::move(said.root()));
  if (claim.wanted()) reply(id, shown, era);
}

}  // namespace

std::optional<json::object> request(std::string_view name, const json::object& given,
                                    std::string_view from) {
  std::string_view op = name == "vesk_list_chats"     ? "list"
                        : name == "vesk_send_to_chat" ? "send"
                        : name == "vesk_read_chat"    ? "read"
                                                      : "";
  if (op.empty()) return std::nullopt;
  // The members go in the order the connector has always written them, by name.
  json::object bridge;
  if (op != "list") bridge["chat"] = stringMember(given, "chat");
  bridge["from"] = from;
  if (op == "read") bridge["last_n"] = lastN(given);
  if (op == "send") bridge["message"] = stringMember(given, "message");
  bridge["op"] = op;
  return bridge;
}

json::object result(json::object said) {
  const json::value* ok = said.if_contains("ok");
  bool done = ok != nullptr && ok->is_bool() && ok->get_bool();
  // On success only `text` is read, on failure only `error`; a string is shown as it is, even
  // empty, and anything else gives a fixed text.
  json::value* text = said.if_contains(done ? "text" : "error");
  // Made where the reply is, so that its text moves over rather than being copied.
  json::object item({{"type", "text"}}, said.storage());
  if (text != nullptr && text->is_string()) {
    item["text"] = std::move(*text);
  } else {
    item["text"] = done ? "Done." : "Vesk said no.";
  }
  json::array content(said.storage());
  content.emplace_back(std::move(item));
  return json::object({{"content", std::move(content)}, {"isError", !done}}, said.storage());
}

void cancel(std::string_view requestId) {
  Claim::cancel(requestId);
}

void handover(Document message, const Id& id, const json::object& params, Era era) {
  // The message goes with the call, and `id` and `params`, which lie in it, with it: the pool
  // destroys it before the call leaves `running`. The claim is made before the hand-over, so that
  // no cancellation read after the call can miss it.
  auto claim = std::make_unique<Claim>(id.text, era);
  calls.submit(running,
               [message = std::move(message), id, params = &params, era, claim = std::move(claim)] {
                 try {
                   call(id, *params, era, *claim);
                 } catch (const std::exception&) {
                   // Memory ran out (std::bad_alloc) before the answer was written: the call still
                   // gets one.
                   if (claim->wanted()) reply(id, Serialised{unanswered}, era);
                 }
               });
}

}  // namespace vesk
