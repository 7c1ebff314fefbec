// The worker pool that runs the tool calls, and the group that counts them in flight. Both are
// safe from any thread.
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

// Worker threads with no limit of their own on how many run at once. An item goes to a worker that
// is idle; when every worker is busy, a new thread starts at once for it, so a slow item never
// holds up another. A worker that has had nothing to do for `linger` ends, so an idle pool holds no
// thread.
//
// It exists for calls that come in bursts: a call handed to a waiting worker costs less CPU and
// time than a thread started for it. `make bench` shows it in the row "tool calls, 10,000
// pipelined", rate and CPU per call, against a floor that starts a thread for every call.
//
// A pool is never destroyed: its idle workers may still be waiting on it while the process exits.
class Workers {
 public:
  static constexpr std::chrono::milliseconds usualLinger{5000};

  explicit Workers(std::chrono::milliseconds idleFor = usualLinger) : linger(idleFor) {}
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Enters `group` here, on the caller's thread, then hands `work` (a callable) over and returns.
  // The worker runs it, destroys it with everything it holds, and only then leaves `group`. When no
  // thread can be started, or the pool's own memory for the item cannot be had, it runs here
  // instead, the same way, so that no item is ever lost. `work` answers for itself: an exception
  // that leaves it is swallowed at the worker's edge rather than ending the process.
  template <class Work>
  void submit(Group& group, Work work);

 private:
  // An item waiting for its worker, or given to a new thread with it; linked while it waits.
  struct Item {
    virtual ~Item() = default;
    virtual void run() = 0;
    Workers* pool = nullptr;
    Group* group = nullptr;
    Item* next = nullptr;
  };

  template <class Work>
  struct Task final : Item {
    explicit Task(Work&& given) : work(std::move(given)) {}
    void run() override { work(); }
    Work work;
  };

  static void attempt(Item& item) noexcept;       // runs the item; the one catch-all
  static void* threadEntry(void* item) noexcept;  // a worker thread's entry point
  static void finish(Item* item) noexcept;        // runs and frees the item, on no worker
  void post(Item* item) noexcept;                 // to an idle worker, a new thread, or here
  void serve(Item* item) noexcept;                // a worker's whole life, from its first item on

  const std::chrono::milliseconds linger;
  std::mutex lock;                // guards everything below
  std::condition_variable ready;  // an item is waiting
  Item* first = nullptr;          // items waiting for the idle workers, oldest first
  Item* last = nullptr;
  std::size_t idle = 0;     // workers waiting for an item, less the items already waiting for them
  std::size_t workers = 0;  // worker threads alive
};

// The pool of the tool calls, and the calls in flight, which the exit waits for.
extern Workers& calls;
extern Group running;

template <class Work>
void Workers::submit(Group& group, Work work) {
  static_assert(std::is_nothrow_move_constructible_v<Work>, "handing work over must not throw");
  group.enter();
  // Only the allocation can fail, and then the item runs here. It is made before the work is
  // moved, so that the work is moved exactly once, whichever way it goes.
  void* room = ::operator new(sizeof(Task<Work>), std::nothrow);
  if (room != nullptr) {
    auto* task = new (room) Task<Work>(std::move(work));
    task->pool = this;
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
