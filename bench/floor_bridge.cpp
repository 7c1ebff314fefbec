// floor-bridge: the least a program can do for a tool call. Each "tools/call" line gets a thread of
// its own that connects to the bridge socket, sends a fixed read request naming the call's chat,
// reads the reply line and copies its text into a fixed tool result; no JSON is parsed or built.
// Any other line gets an empty success answer at once. At end of input it waits for its calls.
//
//   VESK_BRIDGE_SOCKET=PATH floor-bridge
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "floor.h"

namespace {

std::mutex writeLock, countLock;
std::condition_variable idle;
int inFlight = 0;
sockaddr_un address{};

void answer(const std::string& text) {
  std::lock_guard<std::mutex> hold(writeLock);
  floorline::whole(STDOUT_FILENO, text);
}

// One exchange: the host's reply line, or nothing when the host cannot be reached.
std::string exchange(const std::string& request) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  std::string reply;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      floorline::whole(fd, request)) {
    char buffer[4096];
    ssize_t n;
    while ((reply.empty() || reply.back() != '\n') && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  if (fd >= 0) ::close(fd);
  return reply;
}

struct Call {
  std::string id, chat;
};

void* call(void* item) {
  std::unique_ptr<Call> taken(static_cast<Call*>(item));
  const std::string &id = taken->id, &chat = taken->chat;
  std::string reply =
      exchange("{\"op\":\"read\",\"from\":\"bench\",\"chat\":\"" + chat + "\",\"last_n\":6}\n");
  answer("{\"jsonrpc\":\"2.0\",\"id\":" + id +
         ",\"result\":{\"content\":[{\"type\":\"text\",\"text\":\"" +
         std::string(floorline::member(reply, "text", true)) + "\"}],\"isError\":false}}\n");
  std::lock_guard<std::mutex> hold(countLock);
  if (--inFlight == 0) idle.notify_all();
  return nullptr;
}

// A detached thread with the same stack size as the connector's workers, so that the two differ in
// the work each call does, not in what starting a thread costs.
void spawn(Call* item) {
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, 1 << 20);
  pthread_t thread;
  if (::pthread_create(&thread, &attributes, call, item) != 0) call(item);
  ::pthread_attr_destroy(&attributes);
}

}  // namespace

int main() {
  const char* path = std::getenv("VESK_BRIDGE_SOCKET");
  address.sun_family = AF_UNIX;
  if (path != nullptr) std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  floorline::lines([](std::string_view line) {
    std::string id(floorline::member(line, "id", false));
    if (line.find("\"tools/call\"") == std::string_view::npos) {
      return answer("{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"result\":{}}\n");
    }
    {
      std::lock_guard<std::mutex> hold(countLock);
      ++inFlight;
    }
    spawn(new Call{id, std::string(floorline::member(line, "chat", true))});
  });
  std::unique_lock<std::mutex> hold(countLock);
  idle.wait(hold, [] { return inFlight == 0; });
  return 0;
}
