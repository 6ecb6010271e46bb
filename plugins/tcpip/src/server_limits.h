// What one client may hold of the server: the bounds that keep a slow, silent
// or hostile peer from stalling the others or exhausting threads, descriptors
// and memory.
#pragma once

#include <chrono>
#include <cstddef>

namespace cvpl_tcpip::server {

// Connections that have not finished the two-byte handshake; a new one beyond
// this closes the oldest.
inline constexpr std::size_t kMaxPendingHandshakes = 32;
// The handshake must arrive within this time of the accept.
inline constexpr std::chrono::seconds kHandshakeTimeout{10};
// Clients with a worker thread, in all and from one address. Connections beyond
// either are closed before the handshake.
inline constexpr std::size_t kMaxClients = 64;
inline constexpr std::size_t kMaxClientsPerAddress = 16;
// A packet that has begun to arrive must keep arriving, and what the server
// sends must keep being taken: no progress for this long drops the client.
// A client that is silent between packets may stay as long as it likes.
inline constexpr std::chrono::seconds kStallTimeout{30};
// Signals waiting for a client that does not read. The first packet waiting is
// always accepted whatever its size; beyond this the client is dropped.
inline constexpr std::size_t kMaxQueuedBytes = std::size_t{8} << 20;

}  // namespace cvpl_tcpip::server
