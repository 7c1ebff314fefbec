// How the connector lives with memory. A reserve of address space is kept for the moment memory
// runs out, when an allocation waits for memory rather than fail at once, and a call is lost, and
// answered, only when none comes back. The C library is also asked to hand memory back after a
// huge line and once a burst of calls is over, not after each large reply: unmapping the buffers
// of each one made the next fault its pages in again, and halved the pace of big replies.
// Safe from any thread.
#pragma once

namespace vesk {

// Takes the reserve and installs the handler that operator new calls when the C library has no
// memory left: the first failure is made good from the reserve; later ones wait for memory to come
// back, and throw std::bad_alloc after a second without. Once at start-up, before any other thread.
void tuneMemory();

// Takes the reserve back after a loss, when there is room again; false while there is none (the
// next failure then has none either). Cheap when the reserve is held.
bool replenish() noexcept;

// Returns the free memory of every heap to the system: after a huge line, and once the last worker
// of a burst has retired.
void releaseMemory();

}  // namespace vesk
