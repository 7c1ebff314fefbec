// A fake host for the tests: listens on a socket in a fresh temporary folder and serves every
// connection on a thread of its own with a script that the test chooses. Also the pieces a test
// needs to listen or connect by hand. Host, Gate and Listener are safe from any thread.
#pragma once

#include <sys/un.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testing_support {

// Holds scripts back until the test lets them go, so that no test needs to sleep.
class Gate {
 public:
  void open();
  void wait();

 private:
  std::mutex lock;
  std::condition_variable opened;
  bool isOpen = false;
};

// Reads one request line from `fd` (up to and including its LF, or to end of file).
std::string line(int fd);
// Writes all of `bytes` to `fd`; false when the peer is gone.
bool say(int fd, std::string_view bytes);

// The host's success reply showing `text`, and the one showing the chat that `request` names, so
// that each call's answer tells which call it answers. Each ends in its LF.
std::string okReply(const std::string& text);
std::string chatEcho(const std::string& request);

// A fresh temporary folder, removed with its contents by the destructor.
struct Folder {
  Folder();
  ~Folder();
  std::string path;
};

// The address of the socket at `path`; throws std::runtime_error when the path does not fit.
sockaddr_un addressOf(const std::string& path);
// A connection to the socket at `path`; throws std::runtime_error when none can be made.
int connected(const std::string& path);

// A socket listening at `path`, or at bridge.sock in a fresh folder when `path` is empty, with room
// for `backlog` connections not yet accepted. Its descriptors are close-on-exec, so that no child
// holds them. The destructor closes it and removes the socket file.
class Listener {
 public:
  explicit Listener(std::string path = "", int backlog = 1024);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  const std::string& path() const { return where; }
  int fd() const { return listener; }
  int incoming() const;  // the next connection; -1 once stopped (or, non-blocking, when none waits)
  void stop() const;     // wakes a thread waiting in incoming(), which then returns -1

 private:
  std::optional<Folder> folder;
  std::string where;
  int listener = -1;
};

class Host {
 public:
  using Script = std::function<void(int fd, Host& host)>;

  // Makes the reply bytes for one request line (its LF included).
  using Respond = std::function<std::string(const std::string& request)>;

  // The usual script: read the request, record it, wait until `release` opens when one is given,
  // send what `respond` makes of the request, hang up.
  static Script answering(Respond respond, Gate* release = nullptr);
  // The same, with `reply` whatever the request.
  static Script replying(std::string reply, Gate* release = nullptr);
  // One script per connection, in the order the connections come; any later one is hung up on.
  static Script inTurn(std::vector<Script> scripts);

  explicit Host(Script script, std::string path = "");
  ~Host();  // stops listening, waits for every connection's script to end

  const std::string& path() const { return listener.path(); }
  void record(std::string request);
  std::vector<std::string> requests();  // what was received so far, in the order recorded
  int connections();                    // how many connections were accepted so far
  // Waits until `n` requests have been recorded.
  void await(std::size_t n);

 private:
  void serve();

  Script script;
  Listener listener;
  std::thread acceptor;
  std::vector<std::thread> workers;
  std::mutex lock;
  std::condition_variable recorded;
  std::vector<std::string> received;
  int accepted = 0;
};

}  // namespace testing_support
