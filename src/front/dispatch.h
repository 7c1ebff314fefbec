// The two concurrency facilities the connector runs on: a queue that runs each submitted item on a
// thread of its own, and a group that counts work in flight. Both are safe from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace vesk {

// A concurrent work queue with no limit of its own: every item gets a fresh detached thread, so a
// slow item never holds up another.
class Queue {
 public:
  // Runs `work` on a new thread. When no thread can be started (resource limits), runs it on the
  // calling thread instead, so that no item is ever lost. `work` must not throw.
  void submit(std::function<void()> work);
};

// A counter of work in flight, in the manner of a dispatch group.
class Group {
 public:
  void enter();
  // Signals the waiters once the count is back at zero. A worker's leave() must be its last touch of
  // shared state: the waiter may return, and the process end, as soon as the count reaches zero.
  void leave();
  // Blocks, with no time limit, until every enter() has been matched by a leave().
  void wait();

 private:
  std::mutex lock;
  std::condition_variable idle;
  std::size_t count = 0;
};

}  // namespace vesk
