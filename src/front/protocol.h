// What the connector speaks, in one place: the two eras of the protocol, their versions, the
// server's name and version, the cache hints of the modern era and the keys of its `_meta`.
// Constants only; safe from any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace vesk {

// The protocol era a request was made in, decided for each request on its own and carried to
// whatever answers it. A request of the 2026-07-28 revision (modern) claims it in its `_meta`;
// every other request is answered as before that revision (legacy).
enum class Era { legacy, modern };

// A request id: the compact JSON text the client wrote it in, numbers exactly as written, which
// is how it goes back, and how a cancellation names it.
struct Id {
  std::string_view text;
};

// The version an `initialize` gets when it names none, and the one version of the modern era.
inline constexpr std::string_view legacyVersion = "2025-06-18";
inline constexpr std::string_view modernVersion = "2026-07-28";

// The connector's name, and its version, which the build defines from the project's own.
inline constexpr std::string_view serverName = "vesk";
inline constexpr std::string_view serverVersion = VESK_VERSION;

// What an `initialize` result and a discovery say the connector is for.
inline constexpr std::string_view instructions =
    "Vesk's connector: list the other chats open in Vesk on this Mac, send one a message (its "
    "answer comes back here), or read its latest messages.";

// How long a modern client may keep what describes the connector (its tools, its discovery result)
// before asking again, and for whom. Both never change while the process lives and are the same
// for every caller; only another binary, which runs in a new process, can change them.
inline constexpr std::int64_t cacheMilliseconds = 3600000;
inline constexpr std::string_view cacheScope = "public";

// The keys of a modern request's `_meta`, and of a modern result's.
inline constexpr std::string_view versionKey = "io.modelcontextprotocol/protocolVersion";
inline constexpr std::string_view capabilitiesKey = "io.modelcontextprotocol/clientCapabilities";
inline constexpr std::string_view clientKey = "io.modelcontextprotocol/clientInfo";
inline constexpr std::string_view serverKey = "io.modelcontextprotocol/serverInfo";

}  // namespace vesk
