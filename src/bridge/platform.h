// What differs between macOS and Linux in reaching the bridge socket, kept in one place so that
// each branch stays a few lines long. Constants, one socket option and one question to the kernel;
// safe from any thread.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <optional>

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

// On macOS, the values above checked against macOS's own headers wherever this header compiles, so
// that a build which runs nothing, as the cross-build from Linux, still checks them.
#if defined(__APPLE__)
static_assert(sizeof(sockaddr_un) == 106, "the address length connect() gets on macOS");
static_assert(longestPath == 103, "104 bytes of sun_path less the NUL");
// macOS's headers define MSG_NOSIGNAL as well; sockets are marked with SO_NOSIGPIPE instead.
static_assert(sendFlags == 0, "no flag on sends where sockets are marked");
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

// The effective user of the process at the other end of the connected socket `fd`, as the kernel
// recorded it when that process called listen(); nothing when the kernel cannot tell, which Linux
// says with a user of -1.
inline std::optional<uid_t> peerUser(int fd) {
#if defined(SO_PEERCRED)
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return std::nullopt;
  if (length != sizeof peer || peer.uid == static_cast<uid_t>(-1)) return std::nullopt;
  return peer.uid;
#else
  uid_t user;
  gid_t group;
  if (::getpeereid(fd, &user, &group) != 0) return std::nullopt;
  return user;
#endif
}

}  // namespace vesk::platform
