// What differs between macOS and Linux in reaching the bridge socket, kept in one place so that
// each branch stays a few lines long. Constants and one socket option; safe from any thread.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>

namespace vesk::platform {

// The longest socket path that `Address::sun_path` holds with its terminating NUL: 103 bytes on
// macOS, whose sun_path has 104, and 107 on Linux, whose sun_path has 108. A longer path is
// refused, never cut short: a cut path could name another socket.
template <class Address>
inline constexpr std::size_t longestPathIn = sizeof(Address::sun_path) - 1;

inline constexpr std::size_t longestPath = longestPathIn<sockaddr_un>;

// A write to a socket whose peer has gone must fail with EPIPE rather than raise SIGPIPE, which
// would end the process. Where the system has the SO_NOSIGPIPE socket option (macOS), each socket
// is marked once and sends carry no flag; elsewhere (Linux) each send carries MSG_NOSIGNAL. macOS's
// headers define MSG_NOSIGNAL too, but the socket option is what every macOS release honours, so
// a system with both uses the option alone.
#if defined(SO_NOSIGPIPE)
inline constexpr int sendFlags = 0;
#elif defined(MSG_NOSIGNAL)
inline constexpr int sendFlags = MSG_NOSIGNAL;
#else
#error "no way to keep a write to a closed socket from raising SIGPIPE on this system"
#endif

// Marks `fd` where the system marks sockets rather than sends. The result is not looked at: the
// exchange goes on either way, as it does when the receive time-out cannot be set.
inline void nosignal(int fd) {
#ifdef SO_NOSIGPIPE
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#else
  static_cast<void>(fd);
#endif
}

}  // namespace vesk::platform
