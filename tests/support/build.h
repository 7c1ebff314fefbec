// What kind of build the tests run in. Sanitizer runtimes slow every byte down many times over and
// hold memory and threads of their own, so a few load figures are scaled down or skipped there.
#pragma once

#include <cstddef>

namespace testing_support {

// The build defines VESK_SANITIZED in every sanitized build, and VESK_THREAD_SANITIZER too under
// ThreadSanitizer.
#ifdef VESK_SANITIZED
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif

#ifdef VESK_THREAD_SANITIZER
inline constexpr bool threadSanitizer = true;
#else
inline constexpr bool threadSanitizer = false;
#endif

// Threads that the sanitizer runtime itself runs in the connector once it has started one.
inline constexpr std::size_t runtimeThreads = threadSanitizer ? 1 : 0;

}  // namespace testing_support
