#include "room.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "reading.h"

namespace json = boost::json;

namespace demo {

namespace {

// Members in name order, as the host has always written its replies.
json::object done(const std::string& text) {
  return {{"ok", true}, {"text", text}};
}

json::object refused(const std::string& error) {
  return {{"error", error}, {"ok", false}};
}

// A string member, or the empty string when it is missing or of another type, as the connector
// itself sends for missing arguments.
std::string member(const json::object& request, std::string_view key) {
  const json::value* found = request.if_contains(key);
  return found != nullptr && found->is_string() ? std::string(found->get_string()) : "";
}

std::string inQuotes(const std::string& text) {
  return "\"" + text + "\"";
}

std::string label(const Chat& chat) {
  return inQuotes(chat.name) + " (" + chat.id + ")";
}

std::string unknown(const std::string& id) {
  if (id.empty()) return "No chat given: use a chat id from vesk_list_chats.";
  return "There is no chat " + inQuotes(id) + " open in Vesk. Use a chat id from vesk_list_chats.";
}

// How many messages to read: `last_n` when it is written as a whole number (3, not 3.0), 6 when it
// is absent; anything else gives nothing, so that it is refused like an out-of-range count. A whole
// number past the signed 64-bit range is read as unsigned, and is out of range anyway.
std::optional<long long> wantedCount(const json::object& request) {
  const json::value* found = request.if_contains("last_n");
  if (found == nullptr) return 6;
  if (found->is_int64()) return found->get_int64();
  return std::nullopt;
}

}  // namespace

Room::Room(std::vector<Chat> chats) : chats(std::move(chats)) {}

json::object Room::respond(const std::string& line) {
  json::monotonic_resource arena;  // the request's values, all freed at once when it is answered
  json::value value = parsed(line, &arena);
  const json::object* request = value.if_object();
  if (request == nullptr)
    return refused(
        "The demo host could not read that request: it must be one JSON object on one line.");
  std::string op = member(*request, "op");
  std::string from = member(*request, "from");
  std::lock_guard<std::mutex> hold(lock);
  if (op == "list") return listing(from);
  if (op == "send") return delivery(from, *request);
  if (op == "read") return history(*request);
  return refused("The demo host does not know the op " + inQuotes(op) +
                 "; it answers list, send and read.");
}

std::deque<Message> Room::messages(const std::string& id) {
  std::lock_guard<std::mutex> hold(lock);
  Chat* chat = named(id);
  return chat != nullptr ? chat->messages : std::deque<Message>{};
}

json::object Room::listing(const std::string& from) {
  std::string text =
      std::to_string(chats.size()) + (chats.size() == 1 ? " chat" : " chats") + " open in Vesk:";
  for (const Chat& chat : chats) {
    text += "\n- " + chat.id + ": " + inQuotes(chat.name) + ", " + chat.agent + ", " + chat.folder +
            ", " + (chat.busy ? "busy" : "idle");
    if (chat.id == from) text += " (you)";
  }
  return done(text);
}

json::object Room::delivery(const std::string& from, const json::object& request) {
  std::string to = member(request, "chat");
  std::string message = member(request, "message");
  Chat* target = named(to);
  if (target == nullptr) return refused(unknown(to));
  Chat* sender = named(from);
  // The message arrives labelled with the sending chat's name, so a sender we do not know has none.
  if (sender == nullptr)
    return refused("The sending chat " + inQuotes(from) +
                   " is not open in Vesk, so its message cannot be labelled.");
  if (sender == target) return refused("That is this chat itself; send to another chat's id.");
  if (message.empty()) return refused("The message is empty; there is nothing to send.");
  if (message.size() > longestMessage) {
    return refused("The message is " + std::to_string(message.size()) +
                   " bytes; up to 64 KB (65536 bytes) can be sent.");
  }
  // The sender passes on the conversation that last reached it, so this is one hop more than that.
  int hop = sender->hops + 1;
  if (hop > mostHops) {
    return refused(
        "This conversation has already passed between chats 3 times in a row, so it stays here.");
  }
  target->hops = hop;
  target->messages.push_back({"from " + inQuotes(sender->name), message});
  if (target->messages.size() > kept) target->messages.pop_front();
  std::string when = target->busy ? "It will start that chat's next turn once the current one ends."
                                  : "It starts that chat's next turn.";
  return done("Sent to " + label(*target) + ", labelled with this chat's name, " +
              inQuotes(sender->name) + ". " + when);
}

json::object Room::history(const json::object& request) {
  std::string id = member(request, "chat");
  Chat* chat = named(id);
  if (chat == nullptr) return refused(unknown(id));
  std::optional<long long> wanted = wantedCount(request);
  if (!wanted || *wanted < 1 || *wanted > mostRead) {
    return refused("last_n must be a whole number from 1 to 20.");
  }
  if (chat->messages.empty()) return done("No messages in " + label(*chat) + " yet.");
  std::size_t shown = std::min(chat->messages.size(), static_cast<std::size_t>(*wanted));
  std::string text = "The last " + std::to_string(shown) + (shown == 1 ? " message" : " messages") +
                     " in " + label(*chat) + ", oldest first:";
  for (auto it = chat->messages.end() - static_cast<std::ptrdiff_t>(shown);
       it != chat->messages.end(); ++it) {
    text += "\n[" + it->author + "] " + it->text;
  }
  return done(text);
}

Chat* Room::named(const std::string& id) {
  for (Chat& chat : chats) {
    if (chat.id == id) return &chat;
  }
  return nullptr;
}

}  // namespace demo
