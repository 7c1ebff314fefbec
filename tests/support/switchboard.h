// A lean fake host for load tests: one thread serves every connection through poll(), so thousands
// of connections cost a descriptor each and no thread. Safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/host.h"

namespace testing_support {

class Switchboard {
 public:
  using Respond = Host::Respond;  // the reply bytes for one request line

  // Listens on a socket in a fresh temporary folder. While `holding`, requests are read and
  // counted but not answered until release(); otherwise each is answered as soon as it is read.
  explicit Switchboard(Respond respond, bool holding = false);
  ~Switchboard();  // stops serving and closes every connection still open

  const std::string& path() const { return listener.path(); }
  void await(std::size_t n);  // waits until `n` requests have been read
  // The same, for at most `patience`; false when fewer have been read by then.
  bool await(std::size_t n, std::chrono::milliseconds patience);
  void release();          // answers every held request, and from then on answers at once
  std::size_t answered();  // how many replies were sent whole

 private:
  struct Connection {
    int fd;
    std::string in, out;
    bool complete = false;  // the request line has arrived
    bool ready = false;     // `out` holds the reply to send
  };

  void serve();
  bool admit();                  // accepts one connection; false when the listener is gone
  bool receive(Connection& c);   // false once the connection should be dropped
  bool transmit(Connection& c);  // false once the reply is sent or the peer is gone
  void reply(Connection& c);
  bool stopping();

  Respond respond;
  Listener listener{"", 4096};
  int wake[2] = {-1, -1};  // release() and the destructor write here to interrupt poll()
  std::vector<Connection> connections;  // the serving thread's own
  std::mutex lock;
  std::condition_variable arrived;
  std::size_t requests = 0, sent = 0;
  bool held, stop = false;
  std::thread server;
};

}  // namespace testing_support
