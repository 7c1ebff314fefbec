#include "chats.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include <boost/json.hpp>

#include "reading.h"

namespace json = boost::json;

namespace demo {

namespace {

// A string member of `entry`; false when it is missing or not a string.
bool stringField(const json::object& entry, std::string_view key, std::string& into) {
  const json::value* found = entry.if_contains(key);
  if (found == nullptr || !found->is_string()) return false;
  into = std::string_view(found->get_string());
  return true;
}

// Reads the optional `messages` member; false when it is there but not a list of messages.
bool history(const json::object& entry, Chat& chat) {
  const json::value* found = entry.if_contains("messages");
  if (found == nullptr) return true;
  if (!found->is_array()) return false;
  for (const json::value& item : found->get_array()) {
    Message message;
    const json::object* fields = item.if_object();
    if (fields == nullptr || !stringField(*fields, "author", message.author) ||
        !stringField(*fields, "text", message.text)) {
      return false;
    }
    chat.messages.push_back(std::move(message));
  }
  return true;
}

// One chat of the file; an empty string, or else what is wrong with it.
std::string chat(const json::value& value, Chat& into) {
  const json::object* found = value.if_object();
  if (found == nullptr) return "is not an object";
  const json::object& entry = *found;
  if (!stringField(entry, "id", into.id) || into.id.empty())
    return "needs a non-empty string \"id\"";
  if (!stringField(entry, "name", into.name)) return "needs a string \"name\"";
  if (!stringField(entry, "agent", into.agent) ||
      (into.agent != "Claude" && into.agent != "Codex")) {
    return "needs \"agent\" \"Claude\" or \"Codex\"";
  }
  if (!stringField(entry, "folder", into.folder)) return "needs a string \"folder\"";
  const json::value* busy = entry.if_contains("busy");
  if (busy != nullptr && !busy->is_bool()) return "has a \"busy\" that is not true or false";
  into.busy = busy != nullptr && busy->get_bool();
  if (!history(entry, into))
    return "has \"messages\" that are not objects with string \"author\" and \"text\"";
  return "";
}

}  // namespace

std::vector<Chat> samples() {
  return {
      {"web",
       "Shop front end",
       "Claude",
       "~/shop/web",
       false,
       {{"person", "The basket page needs paging for long orders."},
        {"Claude", "Added paging to the basket page; it asks the API for 20 lines at a time."}}},
      {"api",
       "Shop API",
       "Codex",
       "~/shop/api",
       true,
       {{"person", "Add an endpoint for order lines, 20 at a time."},
        {"Codex", "Working on GET /orders/{id}/lines with a cursor."}}},
      {"docs",
       "Shop docs",
       "Claude",
       "~/shop/docs",
       false,
       {{"person", "Keep the API guide in step with the code."}}},
      {"review", "Code review", "Codex", "~/shop", false, {}},
  };
}

std::optional<std::vector<Chat>> load(const std::string& file, std::string& problem) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) {
    problem = "cannot read " + file;
    return std::nullopt;
  }
  std::stringstream bytes;
  bytes << stream.rdbuf();
  json::monotonic_resource arena;  // the file's values, freed at once when its chats are taken
  json::value value = parsed(bytes.str(), &arena);
  const json::array* list = value.if_array();
  if (list == nullptr || list->empty()) {
    problem = file + " must hold a JSON array of chats, at least one";
    return std::nullopt;
  }
  std::vector<Chat> chats;
  std::set<std::string> ids;
  for (std::size_t i = 0; i < list->size(); ++i) {
    Chat entry;
    std::string wrong = chat((*list)[i], entry);
    if (wrong.empty() && !ids.insert(entry.id).second)
      wrong = "repeats the id \"" + entry.id + "\"";
    if (!wrong.empty()) {
      problem = file + ": chat " + std::to_string(i + 1) + " " + wrong;
      return std::nullopt;
    }
    chats.push_back(std::move(entry));
  }
  return chats;
}

}  // namespace demo
