#include "front/memory.h"

#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <new>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vesk {

namespace {

// Room for the allocations made just as memory runs out, the unwinding of nlohmann's values among
// them, while the calls in flight give memory back. It is address space, never touched, so it
// costs no resident memory: what runs out under a limit (RLIMIT_AS, or strict overcommit) is
// exactly what it gives back. Mapped on its own, so that giving it up unmaps it and any thread's
// allocation can use the room.
constexpr std::size_t reserveSize = std::size_t{16} << 20;

// Held, or null once given up; only ever exchanged, so the handler takes no lock on any thread.
std::atomic<void*> reserve{nullptr};

void* mapReserve() noexcept {
  void* block =
      ::mmap(nullptr, reserveSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

// How long one allocation waits for memory before it fails.
constexpr std::chrono::milliseconds patience{1000};

// operator new's handler, on the thread whose allocation failed; operator new tries again when it
// returns. It must not throw lightly: the allocation may be one of nlohmann's destructors, which
// allocate, and an exception there ends the process. So the first failure gives up the reserve and
// returns, and the allocation is made in its room. Once it is spent, an allocation waits for the
// memory that the other calls give back, taking the reserve back first when it can, and fails only
// after `patience` without: a huge line, or memory that never comes back.
void spend() {
  void* block = reserve.exchange(nullptr);
  if (block != nullptr) {
    ::munmap(block, reserveSize);
    return;
  }
  // Times of this thread's own waiting; a gap of more than a few naps starts a new wait.
  thread_local std::chrono::steady_clock::time_point since, last;
  auto now = std::chrono::steady_clock::now();
  if (now - last > std::chrono::milliseconds(20)) since = now;
  last = now;
  if (now - since > patience) {
    last = {};  // the next allocation, the lost call's answer say, waits afresh
    throw std::bad_alloc();
  }
  timespec pause{0, 1000000};
  ::nanosleep(&pause, nullptr);
  replenish();
}

}  // namespace

void tuneMemory() {
#if defined(__GLIBC__)
  // One heap for every thread. malloc_trim() gives back all the free memory of the main heap but
  // only the middle of the others, whose free tops kept 10 to 15 MB after a burst of big replies,
  // against 3 MB with one heap; its lock cost a burst of 500 such calls a tenth at most.
  ::mallopt(M_ARENA_MAX, 1);
#endif
  replenish();
  std::set_new_handler(spend);
}

bool replenish() noexcept {
  if (reserve.load(std::memory_order_relaxed) != nullptr) return true;
  void* block = mapReserve();
  if (block == nullptr) return false;
  void* none = nullptr;
  // Another thread may have taken it back meanwhile: one reserve is enough.
  if (!reserve.compare_exchange_strong(none, block)) ::munmap(block, reserveSize);
  return true;
}

void releaseMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace vesk
