// The two concurrency facilities the connector runs on: a queue that runs each submitted item on a
// worker thread it keeps for reuse, and a group that counts work in flight. Both are safe from any
// thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

namespace vesk {

// A counter of work in flight, in the manner of a dispatch group.
class Group {
 public:
  void enter();
  // Signals the waiters once the count is back at zero. A worker's leave() must be its last touch
  // of shared state: the waiter may return, and the process end, as soon as the count reaches zero.
  void leave();
  // Blocks, with no time limit, until every enter() has been matched by a leave().
  void wait();

 private:
  std::mutex lock;
  std::condition_variable idle;
  std::size_t count = 0;
};

// A concurrent work queue with no limit of its own. An item goes to a worker that is idle; when
// every worker is busy, a new thread starts at once for it, so a slow item never holds up another.
// A worker that has had nothing to do for `linger` ends, so an idle queue holds no thread.
//
// The process-wide queue is never destroyed: idle workers may still wait on it while the process
// exits. A queue that is destroyed (the tests' own) first lets its workers finish their items and
// end; nothing may be submitted to it by then.
class Queue {
 public:
  static constexpr std::chrono::milliseconds usualLinger{5000};

  explicit Queue(std::chrono::milliseconds linger = usualLinger) : linger(linger) {}
  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  // Enters `group` here, on the caller's thread, then hands `work` (a callable) over and returns.
  // The worker runs it, destroys it with everything it holds, and only then leaves `group`. When no
  // thread can be started, or the queue's own memory for the item cannot be had, it runs here
  // instead, the same way, so that no item is ever lost. `work` answers for itself: an exception
  // that leaves it is swallowed at the worker's edge rather than ending the process.
  template <class Work>
  void submit(Group& group, Work work);

 private:
  // An item waiting for its worker, or given to a new thread with it; linked while it waits.
  struct Item {
    virtual ~Item() = default;
    virtual void run() = 0;
    Queue* queue = nullptr;
    Group* group = nullptr;
    Item* next = nullptr;
  };

  template <class Work>
  struct Task final : Item {
    explicit Task(Work&& work) : work(std::move(work)) {}
    void run() override { work(); }
    Work work;
  };

  static void attempt(Item& item) noexcept;       // runs the item; the one catch-all
  static void* threadEntry(void* item) noexcept;  // a worker thread's entry point
  // Runs and frees the item, then leaves its group. A worker passes its unlocked `worker` lock,
  // and gets it back locked, with itself counted idle.
  void finish(Item* item, std::unique_lock<std::mutex>* worker) noexcept;
  void post(Item* item) noexcept;   // to an idle worker, a new thread, or here
  bool spawn(Item* item) noexcept;  // false when no thread could be started
  void serve(Item* item) noexcept;  // a worker's whole life, from its first item on
  // Waits, counted idle and holding the lock, for the next item; returns it with the lock
  // released, or nothing, still holding it, once the worker is to end.
  Item* next(std::unique_lock<std::mutex>& hold) noexcept;

  const std::chrono::milliseconds linger;
  std::mutex lock;                // guards everything below
  std::condition_variable ready;  // an item is waiting, or the queue is closing
  Item* first = nullptr;          // items waiting for the idle workers, oldest first
  Item* last = nullptr;
  std::size_t idle = 0;     // workers waiting for an item, less the items already waiting for them
  std::size_t workers = 0;  // worker threads alive
  bool closing = false;
  std::condition_variable gone;  // the last worker has ended (for the destructor)
};

template <class Work>
void Queue::submit(Group& group, Work work) {
  static_assert(std::is_nothrow_move_constructible_v<Work>, "handing work over must not throw");
  group.enter();
  // Only the allocation can fail, and then the item runs here. It is made before the work is
  // moved, so that the work is moved exactly once, whichever way it goes.
  void* room = ::operator new(sizeof(Task<Work>), std::nothrow);
  if (room != nullptr) {
    auto* task = new (room) Task<Work>(std::move(work));
    task->queue = this;
    task->group = &group;
    return post(task);
  }
  {
    Task<Work> here(std::move(work));
    attempt(here);
  }
  group.leave();
}

}  // namespace vesk
