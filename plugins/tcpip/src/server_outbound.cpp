// Writing to a client. Packets go out whole and in order, but no sender waits
// for a client that does not read: the socket takes what it can, the rest waits
// in the client's queue, and the worker writes it when the socket has room. The
// listeners that forward events and log lines run on the framework's threads
// (the work thread, any thread that logs), which one stuck client must not hold.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "rpc_protocol.h"
#include "server_limits.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

using Clock = std::chrono::steady_clock;

// What the socket takes now; 0 when it is full, -1 when it failed.
ssize_t WriteSome(int32_t socket, const uint8_t* data, size_t size) {
    for (;;) {
        const ssize_t written = send(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written >= 0) return written;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

// sendLock held. Ends the conversation; nothing queued will be sent.
void Abandon(Client& client, DropReason reason) {
    if (client.connected.exchange(false)) client.dropReason.store(reason);
    client.outgoing.clear();
    client.queuedBytes = 0;
    client.wakeup.Signal();
}

// sendLock held. Writes queued packets in order until the socket is full.
bool Flush(Client& client) {
    while (!client.outgoing.empty()) {
        Outgoing& head = client.outgoing.front();
        const ssize_t written = WriteSome(client.socket, head.data + head.sent, head.size - head.sent);
        if (written < 0) {
            Abandon(client, DropReason::kNone);
            return false;
        }
        if (written == 0) return true;
        client.lastProgress = Clock::now();
        head.sent += static_cast<size_t>(written);
        if (head.sent < head.size) return true;
        client.queuedBytes -= head.owned.size();
        client.outgoing.pop_front();
    }
    return true;
}

// sendLock held. Writes what the socket takes of a packet with nothing queued
// before it; how much was written, or -1 when the client is gone.
ssize_t StartPacket(Client& client, const uint8_t* packet, size_t length) {
    if (!client.connected.load() || !Flush(client)) return -1;
    if (!client.outgoing.empty()) return 0;
    const ssize_t written = WriteSome(client.socket, packet, length);
    if (written < 0) Abandon(client, DropReason::kNone);
    // The stall clock runs from the moment something is left waiting.
    if (written >= 0 && static_cast<size_t>(written) < length) client.lastProgress = Clock::now();
    return written;
}

}  // namespace

bool SendToClient(Client& client, const std::vector<uint8_t>& packet) {
    return SendToClient(client, packet.data(), packet.size());
}

bool SendToClient(Client& client, const uint8_t* packet, size_t length) {
    std::lock_guard lock(client.sendLock);
    const ssize_t written = StartPacket(client, packet, length);
    if (written < 0) return false;
    if (static_cast<size_t>(written) == length) return true;
    if (client.queuedBytes > 0 && client.queuedBytes + length > kMaxQueuedBytes) {
        Abandon(client, DropReason::kNotReading);
        return false;
    }
    Outgoing& waiting = client.outgoing.emplace_back();
    waiting.owned.assign(packet, packet + length);
    waiting.data = waiting.owned.data();
    waiting.size = length;
    waiting.sent = static_cast<size_t>(written);
    client.queuedBytes += length;
    client.wakeup.Signal();  // the worker watches for room on the socket
    return true;
}

bool SendAnswer(Client& client, const uint8_t* packet, size_t length) {
    std::unique_lock lock(client.sendLock);
    const ssize_t written = StartPacket(client, packet, length);
    if (written < 0) return false;
    if (static_cast<size_t>(written) == length) return true;
    // The caller's buffer waits in the queue, uncopied, until it is written.
    Outgoing& mine = client.outgoing.emplace_back();
    mine.data = packet;
    mine.size = length;
    mine.sent = static_cast<size_t>(written);
    const auto stillQueued = [&] {
        return std::any_of(client.outgoing.begin(), client.outgoing.end(),
                           [&](const Outgoing& o) { return o.data == packet && o.owned.empty(); });
    };
    while (stillQueued()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(client.lastProgress + kStallTimeout -
                                                                       Clock::now());
        lock.unlock();
        pollfd entries[2] = {{client.socket, POLLOUT, 0}, {client.wakeup.Fd(), POLLIN, 0}};
        poll(entries, 2, static_cast<int>(std::max<long long>(0, wait.count())));
        if ((entries[1].revents & POLLIN) != 0) client.wakeup.Drain();
        lock.lock();
        if (!client.connected.load()) return false;
        if (!client.running.load()) {
            Abandon(client, DropReason::kNone);
            return false;
        }
        if (!Flush(client)) return false;
        if (stillQueued() && Clock::now() - client.lastProgress >= kStallTimeout) {
            Abandon(client, DropReason::kStalled);
            return false;
        }
    }
    return client.connected.load();
}

void SendDisconnect(Client& client) {
    SendToClient(client, rpc::EmptyPacket(rpc::kDisconnect));
    client.connected.store(false);
}

bool HasBacklog(Client& client, Clock::time_point* deadline) {
    std::lock_guard lock(client.sendLock);
    if (client.outgoing.empty()) return false;
    *deadline = client.lastProgress + kStallTimeout;
    return true;
}

void FlushBacklog(Client& client) {
    std::lock_guard lock(client.sendLock);
    if (!client.connected.load() || !Flush(client)) return;
    if (!client.outgoing.empty() && Clock::now() - client.lastProgress >= kStallTimeout)
        Abandon(client, DropReason::kStalled);
}

}  // namespace cvpl_tcpip::server
