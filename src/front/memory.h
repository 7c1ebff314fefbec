// How the connector asks the C library to hand memory back to the system. A huge request line or a
// host's capped reply takes tens of megabytes for a moment; without this, glibc keeps them mapped
// for the rest of the process. Safe from any thread; nothing happens where the C library has no
// such controls.
#pragma once

#include <cstddef>

namespace vesk {

// Blocks at least this large are mapped and unmapped on their own, and a text this long counts as
// large enough to give memory back after it.
inline constexpr std::size_t largeBlock = std::size_t{128} << 10;

// Fixes the threshold at `largeBlock`, once at start-up: glibc otherwise raises it after the
// first large block is freed, and later large blocks stay in its heaps once freed.
void tuneMemory();

// Returns the free memory of every heap to the system, after a large line or reply is done with.
void releaseMemory();

}  // namespace vesk
