// The demo host's answers: one bridge request in, one bridge reply out, against the chats it holds.
// A Room is safe from any thread; each request holds its lock for the whole of its short work.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "chats.h"

namespace demo {

// What the demo host holds to: a message of at most 64 KB, at most 20 messages read at once, and
// a conversation passed between chats at most 3 times in a row. A chat keeps its newest `kept`
// messages, so a long-running host does not grow without bound.
inline constexpr std::size_t longestMessage = 65536;  // bytes of UTF-8
inline constexpr long long mostRead = 20;
inline constexpr int mostHops = 3;
inline constexpr std::size_t kept = 200;

class Room {
 public:
  explicit Room(std::vector<Chat> chats);

  // Answers one request line: {"ok":true,"text":…} when done, {"ok":false,"error":…} when refused.
  // The reply is always one object that serialises to one line; nothing thrown.
  boost::json::object respond(const std::string& line);

  // The messages of chat `id` as they are now (empty for an unknown id), for tests.
  std::deque<Message> messages(const std::string& id);

 private:
  boost::json::object listing(const std::string& from);
  boost::json::object delivery(const std::string& from, const boost::json::object& request);
  boost::json::object history(const boost::json::object& request);
  Chat* named(const std::string& id);

  std::mutex lock;  // guards `chats`
  std::vector<Chat> chats;
};

}  // namespace demo
