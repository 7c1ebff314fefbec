// The chats the demo host pretends are open: a few built-in samples, or the ones of a JSON file.
// Plain data and pure functions, safe from any thread.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace demo {

struct Message {
  std::string
      author;  // "person", the chat's agent ("Claude" or "Codex"), or the sending chat's label
  std::string text;
};

struct Chat {
  std::string id;
  std::string name;
  std::string agent;  // "Claude" or "Codex"
  std::string folder;
  bool busy = false;
  std::deque<Message> messages;  // oldest first
  // How many times in a row the conversation that last reached this chat from another chat had
  // been passed between chats; 0 until one arrives.
  int hops = 0;
};

// Four sample chats of a small shop's code, each with a few messages of its own.
std::vector<Chat> samples();

// The chats of a JSON file: an array of objects with `id`, `name`, `agent` ("Claude" or "Codex")
// and `folder`, and optionally `busy` (a boolean) and `messages` (objects with `author` and
// `text`). Returns nothing, with `problem` set to one short line, when the file cannot be read or
// holds anything else, an empty or repeated id included.
std::optional<std::vector<Chat>> load(const std::string& file, std::string& problem);

}  // namespace demo
