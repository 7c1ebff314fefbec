#include "front/workers.h"

#include <pthread.h>

#include "front/memory.h"

namespace vesk {

// Never destroyed: idle workers may still be waiting on it while the process exits.
Workers& calls = *new Workers;
Group running;

namespace {

// A worker's stack: nothing a worker does recurses with its input (the parser and its keeper keep
// their own stack of levels, and an id goes back as text), and no frame is large (a reply is read
// past its first kilobyte into a mapping), so this leaves plenty, while a burst that needs
// thousands of workers maps a small part of the usual size. Sanitizers make every frame several
// times larger, so their builds (VESK_SANITIZED, which the build defines) keep the usual 8 MiB.
#ifdef VESK_SANITIZED
constexpr std::size_t stackSize = std::size_t{8} << 20;
#else
constexpr std::size_t stackSize = std::size_t{1} << 20;
#endif

// Starts a detached thread running `entry(argument)`; false when none can be had.
bool spawn(void* (*entry)(void*), void* argument) noexcept {
  // While memory is short, no thread is started: its stack would take the room that the calls
  // losing their memory need, and the caller carries the item itself, which also holds back the
  // requests behind it.
  if (!replenish()) return false;
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  // Detached: nobody joins a worker; the group tells when the work is done.
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, stackSize);
  pthread_t thread;
  int failed = ::pthread_create(&thread, &attributes, entry, argument);
  ::pthread_attr_destroy(&attributes);
  return failed == 0;
}

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

void Workers::attempt(Item& item) noexcept {
  Errand errand;
  try {
    item.run();
  } catch (...) {
    // An exception that left a worker would end the process. The item answers for itself; what
    // gets here (memory running out) costs this item alone.
  }
}

void* Workers::threadEntry(void* item) noexcept {
  auto* first = static_cast<Item*>(item);
  first->pool->serve(first);
  return nullptr;
}

void Workers::finish(Item* item) noexcept {
  Group& group = *item->group;
  attempt(*item);
  delete item;
  group.leave();
}

void Workers::post(Item* item) noexcept {
  bool queued = false;  // for an idle worker; else the item needs a thread of its own
  {
    std::lock_guard<std::mutex> hold(lock);
    if (idle > 0) {
      // The item is that worker's now. Whichever worker looks next takes it, even one whose wait
      // has just run out: see serve().
      --idle;
      (last != nullptr ? last->next : first) = item;
      last = item;
      queued = true;
    } else {
      ++workers;
    }
  }
  // Woken once the lock is free: a worker woken while it is held finds it taken and sleeps again
  // until it is let go, so every item handed over would cost the worker two sleeps and the thread
  // that submits two wake-ups. The pool is never destroyed, so its condition variable is still
  // there after the lock is let go. (Group::leave() notifies under its lock: its waiter may end
  // the process.)
  if (queued) return ready.notify_one();
  if (spawn(threadEntry, item)) return;
  {
    std::lock_guard<std::mutex> hold(lock);
    --workers;
  }
  // No thread to be had: the item still runs, here, rather than being lost.
  finish(item);
}

void Workers::serve(Item* item) noexcept {
  std::unique_lock<std::mutex> hold(lock, std::defer_lock);
  for (;;) {
    Group& group = *item->group;
    attempt(*item);
    // The item's copies die before leave(): after it the process may already be ending.
    delete item;
    replenish();  // after a loss, once there is room again
    hold.lock();
    // Counted idle before the group hears, so that a caller who waits on the group and submits
    // again finds this worker rather than starting another.
    ++idle;
    group.leave();
    // The queue is looked at under the lock once the time is up too: an item posted just as the
    // wait ran out counted this worker as idle, and would otherwise wait for a worker that is gone.
    if (!ready.wait_for(hold, linger, [this] { return first != nullptr; })) break;
    item = first;
    first = item->next;
    if (first == nullptr) last = nullptr;
    hold.unlock();
  }
  // Nothing came for a while: this worker ends, its last touch of the pool made under the lock.
  --idle;
  bool lastOne = --workers == 0;
  hold.unlock();
  // A burst leaves its freed memory in the malloc arenas of the threads it ran on; the last worker
  // to end hands it back, so that an idle connector is as small as a new one again.
  if (lastOne) releaseMemory();
}

}  // namespace vesk
