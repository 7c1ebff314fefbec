#include "front/dispatch.h"

#include <pthread.h>

#include <memory>
#include <utility>

namespace vesk {

namespace {

using Work = std::function<void()>;

// A worker's stack. The deepest thing a worker does is write back an id that nests as deep as the
// reader allows (copied and dumped one level at a time), which needs between 64 and 128 KiB; this
// leaves eight times that. With the default 8 MiB, glibc keeps only five stacks of finished threads
// for reuse, so most calls mapped and unmapped a stack of their own.
// Sanitizers make every frame several times larger, so their builds keep the usual 8 MiB.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VESK_LARGE_FRAMES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VESK_LARGE_FRAMES 1
#endif
#endif
#ifdef VESK_LARGE_FRAMES
constexpr std::size_t stackSize = std::size_t{8} << 20;
#else
constexpr std::size_t stackSize = std::size_t{1} << 20;
#endif

// The thread's entry point: takes ownership of the item, runs it, frees it.
void* start(void* item) {
  std::unique_ptr<Work> work(static_cast<Work*>(item));
  try {
    (*work)();
  } catch (...) {
    // An exception that left this thread would end the process; the item answers for itself.
  }
  return nullptr;
}

}  // namespace

void Queue::submit(Work work) {
  auto* item = new Work(std::move(work));
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  // Detached: nobody joins a worker; the group tells when the work is done.
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, stackSize);
  pthread_t thread;
  int failed = ::pthread_create(&thread, &attributes, start, item);
  ::pthread_attr_destroy(&attributes);
  // No thread to be had: the item still runs, here, rather than being lost.
  if (failed != 0) start(item);
}

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

}  // namespace vesk
