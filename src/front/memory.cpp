#include "front/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vesk {

void tuneMemory() {
#if defined(__GLIBC__)
  ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(largeBlock));
#endif
}

void releaseMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace vesk
