// The platform header's values on macOS, checked against macOS's own headers while they compile:
// built with the connector for macOS (the cross-build from Linux and a Mac's own build) and
// linked into nothing, since none of it runs.
#include <sys/socket.h>
#include <sys/un.h>

#include "bridge/platform.h"

static_assert(sizeof(sockaddr_un) == 106, "the address length connect() gets on macOS");
static_assert(vesk::platform::longestPath == 103, "104 bytes of sun_path less the NUL");
// macOS's headers define MSG_NOSIGNAL as well; sockets are marked with SO_NOSIGPIPE instead.
static_assert(vesk::platform::sendFlags == 0, "no flag on sends where sockets are marked");
