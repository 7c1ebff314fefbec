// How the connector lives with memory running out, in one place. Safe from any thread.
//
// - A reserve of address space, never touched, is held from start-up. The first allocation that
//   finds no memory gives it up and is made in its room.
// - Then an allocation that finds no memory waits for other work (an Errand: a call, or a line on
//   the main thread) to give memory back, for a second in all from the first failure of its own
//   work, and not at all while all other work waits too; then it fails (std::bad_alloc). So
//   nothing waits for long, and nothing waits for memory that only other waiters hold.
// - The reserve is taken back once there is room again: after each request line and each call.
// - Who catches: the reader (a line or reply it cannot hold is refused), the line reader (a line
//   too long to hold is skipped whole), the request loop (a request on the main thread is lost),
//   and the tool call (it is answered with the no-answer result, written without allocating).
//   Freeing never allocates: a message's values live in one arena, released in one go.
// - What is lost: a request whose own line or answer cannot be held, and only it; every call that
//   was handed over still gets an answer. No thread starts while the reserve is out.
// - Memory goes back to the system after a very long line and once a burst of calls is over, not
//   after each large reply, whose buffers the next one would only fault in again.
#pragma once

namespace vesk {

// Takes the reserve and installs the handler that operator new calls when the C library has no
// memory left. Once at start-up, before any other thread.
void tuneMemory();

// Takes the reserve back after a loss, when there is room again; false while there is none.
// Cheap when the reserve is held.
bool replenish() noexcept;

// One piece of work, for as long as it lives: a call on its worker, or a line on the main thread.
// An allocation within it that finds no memory waits as said above.
class Errand {
 public:
  Errand() noexcept;
  ~Errand();
  Errand(const Errand&) = delete;
  Errand& operator=(const Errand&) = delete;
};

// Returns the free memory of the heap to the system.
void releaseMemory();

}  // namespace vesk
