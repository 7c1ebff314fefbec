// The macOS branches of bridge/platform.h, compiled on Linux with macOS's constants forced in: no
// MSG_NOSIGNAL flag, the SO_NOSIGPIPE socket option, and a sun_path of 104 bytes. This file is
// compiled on every build and linked into nothing, since Linux cannot run these branches: it checks
// that they compile, warning-free, and that the bounds come out as macOS needs them.
#include <sys/socket.h>

#include <cstdint>

#undef MSG_NOSIGNAL          // macOS marks sockets, not sends
#define SO_NOSIGPIPE 0x1022  // as macOS's <sys/socket.h> defines it

#include "bridge/platform.h"

namespace {

// The layout of macOS's sockaddr_un.
struct DarwinAddress {
  std::uint8_t sun_len;
  std::uint8_t sun_family;
  char sun_path[104];
};

static_assert(sizeof(DarwinAddress) == 106, "the address length connect() gets on macOS");
static_assert(vesk::platform::longestPathIn<DarwinAddress> == 103, "104 bytes less the NUL");
static_assert(vesk::platform::sendFlags == 0, "no flag to send with where there is none");

}  // namespace

// Calls the function so that its macOS body is compiled, not merely parsed.
void appleNosignal(int fd) {
  vesk::platform::nosignal(fd);
}
