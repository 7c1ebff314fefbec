// The demo host's side of the bridge socket: claim the path, then serve every connection on a
// thread of its own, one request line in and one reply line out. A Server's functions are for the
// thread that owns it; the connection threads only call the answering function they were given.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace demo {

// The longest path a socket address holds here: sun_path less its terminating NUL.
std::size_t longestPath();

// Binds a listening socket at `path`. A socket file there that nobody listens on is left over from
// a host that ended without cleaning up, and is replaced. Returns the descriptor, or -1 with
// `problem` set to one short line: the path is too long, a host already listens there, or it is
// not a socket, among others.
int claim(const std::string& path, std::string& problem);

// What reading a request from a connection gave.
enum class Got { line, tooLong, nothing };

// Reads one request from a connection into `line`: the bytes before the first LF, or all of them
// when the peer ends its side first. tooLong once more than `cap` bytes came without an LF;
// nothing when no byte came before the peer ended, an error, or the time-out.
Got request(int fd, std::size_t cap, std::string& line);

class Server {
 public:
  using Answer = std::function<std::string(const std::string& request)>;

  // Starts accepting on `listener`, which the Server then owns. `answer` turns a request line into
  // a reply line (without LF) and must not throw; it is called from several threads at once.
  Server(int listener, Answer answer);
  ~Server();  // stop()

  // Stops accepting, cuts short the connections still waiting for a request, and returns once
  // every connection thread has finished.
  void stop();

 private:
  void accepting();
  void breathe();
  void serve(int fd);
  void finished(int fd);

  int listener;
  int wake[2] = {-1, -1};  // a pipe whose read end wakes the acceptor when stop() writes to it
  Answer answer;
  std::thread acceptor;
  std::mutex lock;               // guards the two members below
  std::condition_variable idle;  // signalled when a connection ends
  std::set<int> open;            // connections being served
  bool stopped = false;
};

}  // namespace demo
