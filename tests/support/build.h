// What kind of build the tests run in. Sanitizer runtimes slow every byte down many times over and
// hold memory and threads of their own, so a few load figures are scaled down or skipped there.
#pragma once

#include <cstddef>

namespace testing_support {

#if defined(__has_feature)
#define TESTING_HAS_FEATURE(x) __has_feature(x)
#else
#define TESTING_HAS_FEATURE(x) 0
#endif

#if defined(__SANITIZE_THREAD__) || TESTING_HAS_FEATURE(thread_sanitizer)
inline constexpr bool threadSanitizer = true;
#else
inline constexpr bool threadSanitizer = false;
#endif

#if defined(__SANITIZE_ADDRESS__) || TESTING_HAS_FEATURE(address_sanitizer)
inline constexpr bool addressSanitizer = true;
#else
inline constexpr bool addressSanitizer = false;
#endif

inline constexpr bool sanitized = threadSanitizer || addressSanitizer;

// Threads that the sanitizer runtime itself runs in the connector once it has started one.
inline constexpr std::size_t runtimeThreads = threadSanitizer ? 1 : 0;

}  // namespace testing_support
