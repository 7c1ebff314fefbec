#include "front/startup.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "front/utf8.h"

namespace vesk {

std::string chat;
std::string socketPath;

void startup(int argc, char** argv) {
  // Arguments become text: a chat id with broken UTF-8 must still go out in a valid request.
  std::vector<std::string> arguments(argv, argv + argc);
  for (std::string& argument : arguments) argument = utf8::repaired(argument);
  chat = option(arguments, "--chat").value_or("");
  // The path stays bytes: it names a file and never appears in JSON. Set but empty still counts.
  const char* variable = std::getenv("VESK_BRIDGE_SOCKET");
  socketPath = variable != nullptr ? std::string(variable) : fallback(home(std::getenv("HOME")));
}

std::optional<std::string> option(const std::vector<std::string>& arguments,
                                  std::string_view flag) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == flag) return arguments[i + 1];
  }
  return std::nullopt;
}

std::string home(const char* variable) {
  if (variable != nullptr && *variable != '\0') return variable;
  // getpwuid_r wants a buffer of unknown size; this one holds any ordinary entry, and a larger one
  // only means no default path.
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0) return "";
  if (found == nullptr || found->pw_dir == nullptr) return "";
  return found->pw_dir;
}

std::string fallback(std::string_view home) {
  if (home.empty()) return "";
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  std::string path(home);
  if (path != "/") path += '/';
  return path + "Library/Application Support/Vesk/bridge.sock";
}

}  // namespace vesk
