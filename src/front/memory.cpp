#include "front/memory.h"

#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <new>
#include <optional>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vesk {

namespace {

// Room for the allocations made just as memory runs out, while the calls in flight unwind and give
// memory back. It is address space, never touched, so it costs no resident memory: what runs out
// under a limit (RLIMIT_AS, or strict overcommit) is exactly what it gives back. Mapped on its own,
// so that giving it up unmaps it and any thread's allocation can use the room.
constexpr std::size_t reserveSize = std::size_t{16} << 20;

// Held, or null once given up; only ever exchanged, so the handler takes no lock on any thread.
std::atomic<void*> reserve{nullptr};

// How long one piece of work waits in all for memory to come back, counted from its first
// failure, before the allocation fails.
constexpr std::chrono::milliseconds patience{1000};

// The work in progress, and how much of it waits for memory now: when all of it waits, nothing
// can give memory back, and an allocation fails at once.
std::atomic<int> working{0};
std::atomic<int> waiting{0};

// When the work on this thread first found no memory; unset while it has not.
thread_local std::optional<std::chrono::steady_clock::time_point> since;

// operator new's handler, on the thread whose allocation failed; operator new tries again when it
// returns. The first failure gives up the reserve, and the allocation is made in its room. Once it
// is spent, the allocation waits for the memory that other work gives back, taking the reserve back
// first when it can, and fails (std::bad_alloc) after `patience`, or at once when all other work
// waits too. No destructor of ours allocates, so the unwinding that follows cannot fail again.
void spend() {
  void* block = reserve.exchange(nullptr);
  if (block != nullptr) {
    ::munmap(block, reserveSize);
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (!since) since = now;
  if (now - *since > patience || waiting.load() + 1 >= working.load()) throw std::bad_alloc();
  ++waiting;
  timespec pause{0, 1000000};
  ::nanosleep(&pause, nullptr);
  --waiting;
  replenish();
}

}  // namespace

void tuneMemory() {
#if defined(__GLIBC__)
  // One heap for every thread: malloc_trim() gives back all the free memory of the main heap but
  // only the middle of the others, whose free tops would keep what a burst of big replies used.
  ::mallopt(M_ARENA_MAX, 1);
#endif
  replenish();
  std::set_new_handler(spend);
}

bool replenish() noexcept {
  if (reserve.load(std::memory_order_relaxed) != nullptr) return true;
  void* block =
      ::mmap(nullptr, reserveSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  void* none = nullptr;
  // Another thread may have taken it back meanwhile: one reserve is enough.
  if (!reserve.compare_exchange_strong(none, block)) ::munmap(block, reserveSize);
  return true;
}

Errand::Errand() noexcept {
  ++working;
  since.reset();
}

Errand::~Errand() {
  --working;
}

void releaseMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace vesk
