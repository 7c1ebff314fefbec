#include "front/catalogue.h"

#include "front/output.h"
#include "front/writer.h"

namespace vesk {

namespace {

// The catalogue as the agent reads it. The descriptions also tell the agent the host's own rules
// (labels, the 64 KB limit, three hops at most); the connector enforces none of them.
constexpr const char* literal = R"json([
  {
    "name": "vesk_list_chats",
    "description": "List the chats open in Vesk on this Mac: each one's id, name, agent (Claude or Codex), folder, and whether it's busy or idle. The one marked \"you\" is this chat. Use an id with vesk_send_to_chat or vesk_read_chat.",
    "inputSchema": {"type": "object", "properties": {}, "additionalProperties": false},
    "annotations": {"title": "List Vesk chats", "readOnlyHint": true, "openWorldHint": false}
  },
  {
    "name": "vesk_send_to_chat",
    "description": "Send a message to another chat open in Vesk, for example to ask a Codex chat to review something. It arrives there as a message from this chat, labeled with this chat's name, and starts that chat's next turn (or waits until its current one ends). Its answer comes back to this chat as a message labeled \"Answer from\" that chat when it's done, so you don't need to read it. Up to 64 KB. A conversation can pass between chats at most 3 times in a row; past that the answer stays in the other chat.",
    "inputSchema": {
      "type": "object",
      "properties": {
        "chat": {"type": "string", "description": "The other chat's id, from vesk_list_chats."},
        "message": {"type": "string", "description": "What to say to it."}
      },
      "required": ["chat", "message"],
      "additionalProperties": false
    },
    "annotations": {"title": "Send to a Vesk chat", "readOnlyHint": false, "destructiveHint": false, "openWorldHint": false}
  },
  {
    "name": "vesk_read_chat",
    "description": "Read the latest messages in another chat open in Vesk: the person's and its agent's words, oldest first.",
    "inputSchema": {
      "type": "object",
      "properties": {
        "chat": {"type": "string", "description": "The other chat's id, from vesk_list_chats."},
        "last_n": {"type": "integer", "minimum": 1, "maximum": 20, "description": "How many messages, newest ones (6 if not given)."}
      },
      "required": ["chat"],
      "additionalProperties": false
    },
    "annotations": {"title": "Read a Vesk chat", "readOnlyHint": true, "openWorldHint": false}
  }
])json";

}  // namespace

const json::array catalogue = json::parse(literal).as_array();

const std::string& listing(Era era) {
  // Serialising the whole catalogue for every request would cost more than the rest of the answer;
  // the text is spliced into each envelope instead.
  static const std::string legacy = compact(json::object{{"tools", catalogue}});
  static const std::string modern = compact(
      json::object{{"tools", catalogue}, {"ttlMs", cacheMilliseconds}, {"cacheScope", cacheScope}});
  return era == Era::modern ? modern : legacy;
}

void list(const Id& id, Era era) {
  reply(id, Serialised{listing(era)}, era);
}

}  // namespace vesk
