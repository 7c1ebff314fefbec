// A fake host for the tests: listens on a socket in a fresh temporary folder and serves every
// connection on a thread of its own with a script that the test chooses.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
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

class Host {
 public:
  using Script = std::function<void(int fd, Host& host)>;

  // The usual script: read the request, record it, send `reply`, hang up.
  static Script replying(std::string reply);

  explicit Host(Script script, std::string path = "");
  ~Host();  // stops listening, waits for every connection's script to end

  const std::string& path() const { return where; }
  void record(std::string request);
  std::vector<std::string> requests();  // what was received so far, in the order recorded
  int connections();                    // how many connections were accepted so far
  // Waits until `n` requests have been recorded.
  void await(std::size_t n);

 private:
  void serve();

  Script script;
  std::string folder, where;
  int listener = -1;
  std::thread acceptor;
  std::vector<std::thread> workers;
  std::mutex lock;
  std::condition_variable recorded;
  std::vector<std::string> received;
  int accepted = 0;
};

// A fresh temporary folder, removed with its contents by the destructor.
struct Folder {
  Folder();
  ~Folder();
  std::string path;
};

}  // namespace testing_support
