#include "front/dispatch.h"

#include <pthread.h>

#include "front/memory.h"

namespace vesk {

namespace {

// A worker's stack. The deepest thing a worker does is write back an id that nests as deep as the
// reader allows (copied and dumped one level at a time), which needs between 64 and 128 KiB; this
// leaves eight times that, and a burst that needs thousands of workers maps a thousandth as much.
// Sanitizers make every frame several times larger, so their builds (VESK_SANITIZED, which the
// build defines) keep the usual 8 MiB.
#ifdef VESK_SANITIZED
constexpr std::size_t stackSize = std::size_t{8} << 20;
#else
constexpr std::size_t stackSize = std::size_t{1} << 20;
#endif

}  // namespace

void Group::enter() {
  std::lock_guard<std::mutex> hold(lock);
  ++count;
}

void Group::leave() {
  // Notify while holding the lock, so that the waiter cannot return, and the process cannot end,
  // before this thread is done with the group.
  std::lock_guard<std::mutex> hold(lock);
  if (--count == 0) idle.notify_all();
}

void Group::wait() {
  std::unique_lock<std::mutex> hold(lock);
  idle.wait(hold, [this] { return count == 0; });
}

Queue::~Queue() {
  std::unique_lock<std::mutex> hold(lock);
  closing = true;
  ready.notify_all();
  gone.wait(hold, [this] { return workers == 0; });
}

void Queue::attempt(Item& item) noexcept {
  try {
    item.run();
  } catch (...) {
    // An exception that left a worker would end the process. The item answers for itself; what
    // gets here (memory running out) costs this item alone.
  }
}

void Queue::finish(Item* item, std::unique_lock<std::mutex>* worker) noexcept {
  Group& group = *item->group;
  attempt(*item);
  // The item's copies die before leave(): after it the process may already be ending.
  delete item;
  // A worker counts itself idle before the group hears, so that a caller who waits on the group
  // and submits again finds this worker rather than starting another.
  if (worker != nullptr) {
    worker->lock();
    ++idle;
  }
  group.leave();
}

void* Queue::threadEntry(void* item) noexcept {
  auto* first = static_cast<Item*>(item);
  first->queue->serve(first);
  return nullptr;
}

void Queue::post(Item* item) noexcept {
  bool waiting = false;  // an idle worker takes it; else it needs a thread of its own
  {
    std::lock_guard<std::mutex> hold(lock);
    if (idle > 0) {
      // The item is that worker's now. Whichever worker looks next takes it, even one whose wait
      // has just run out: see next().
      --idle;
      (last != nullptr ? last->next : first) = item;
      last = item;
      waiting = true;
    } else {
      ++workers;  // counted before it starts, so that a closing queue waits for it too
    }
  }
  if (waiting) return ready.notify_one();
  if (spawn(item)) return;
  {
    std::lock_guard<std::mutex> hold(lock);
    --workers;
  }
  // No thread to be had: the item still runs, here, rather than being lost.
  finish(item, nullptr);
}

bool Queue::spawn(Item* item) noexcept {
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  // Detached: nobody joins a worker; the group tells when the work is done.
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, stackSize);
  pthread_t thread;
  int failed = ::pthread_create(&thread, &attributes, threadEntry, item);
  ::pthread_attr_destroy(&attributes);
  return failed == 0;
}

void Queue::serve(Item* item) noexcept {
  std::unique_lock<std::mutex> hold(lock, std::defer_lock);
  do {
    finish(item, &hold);
  } while ((item = next(hold)) != nullptr);
  bool lastOne = workers == 0;
  hold.unlock();
  // A burst leaves its freed memory in the malloc arenas of the threads it ran on; the last worker
  // to end hands it back, so that an idle connector is as small as a new one again.
  if (lastOne) releaseMemory();
}

Queue::Item* Queue::next(std::unique_lock<std::mutex>& hold) noexcept {
  auto deadline = std::chrono::steady_clock::now() + linger;
  // The queue is looked at under the lock once the time is up too: an item posted just as the
  // wait ran out counted this worker as idle, and would otherwise wait for a worker that is gone.
  ready.wait_until(hold, deadline, [this] { return first != nullptr || closing; });
  if (first == nullptr) {
    // Nothing came for a while, or the queue is closing: this worker ends, its last touch of the
    // queue made under the lock, so that a closing queue outlives it.
    --idle;
    if (--workers == 0) gone.notify_all();
    return nullptr;
  }
  Item* item = first;
  first = item->next;
  if (first == nullptr) last = nullptr;
  hold.unlock();
  return item;
}

}  // namespace vesk
