// One worker per client: reads the client's packets in arrival order and answers
// each before reading the next. It waits for the socket or its wake-up instead
// of polling on a timer, and keeps going while submitted commands are pending so
// that the client record outlives every completion.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "rpc_protocol.h"
#include "server_limits.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

enum class ReadResult { kComplete, kError, kEndOfStream, kShort, kStopped };
enum class Wait { kReadable, kStopped, kTimedOut };

using Clock = std::chrono::steady_clock;

int PollTimeout(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits until the socket is readable, writing what waits for the client
// whenever the socket has room. Between packets the client may stay silent as
// long as it likes; inside one (`midPacket`) the next bytes must come within
// kStallTimeout.
Wait WaitReadable(Client& client, bool midPacket) {
    const Clock::time_point readBy = midPacket ? Clock::now() + kStallTimeout : Clock::time_point::max();
    for (;;) {
        if (!client.running.load() || !client.connected.load()) return Wait::kStopped;
        Clock::time_point sendBy = Clock::time_point::max();
        const bool backlog = HasBacklog(client, &sendBy);
        const short events = static_cast<short>(POLLIN | (backlog ? POLLOUT : 0));
        pollfd entries[2] = {{client.socket, events, 0}, {client.wakeup.Fd(), POLLIN, 0}};
        if (poll(entries, 2, PollTimeout(std::min(readBy, sendBy))) < 0) {
            if (errno == EINTR) continue;
            return Wait::kReadable;  // let the read report the failure
        }
        if ((entries[1].revents & POLLIN) != 0) client.wakeup.Drain();
        if (!client.running.load() || !client.connected.load()) return Wait::kStopped;
        if (backlog) FlushBacklog(client);  // also drops a client whose queue stalled
        if ((entries[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) return Wait::kReadable;
        if (Clock::now() >= readBy) return Wait::kTimedOut;
    }
}

// Reads exactly length bytes, stopping early only on failure, end of stream,
// a stall inside the packet, or stop. Bytes already there are taken without
// waiting for the socket first.
ReadResult ReadExact(Client& client, uint8_t* buffer, size_t length, size_t* have, bool midPacket) {
    *have = 0;
    while (*have < length) {
        const size_t chunk = std::min<size_t>(length - *have, 1 << 20);
        const ssize_t got = recv(client.socket, buffer + *have, chunk, MSG_DONTWAIT);
        if (got > 0) {
            *have += static_cast<size_t>(got);
            continue;
        }
        const bool first = *have == 0 && !midPacket;
        if (got == 0) return first ? ReadResult::kEndOfStream : ReadResult::kShort;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return first ? ReadResult::kError : ReadResult::kShort;
        switch (WaitReadable(client, !first)) {
            case Wait::kReadable: break;
            case Wait::kStopped: return ReadResult::kStopped;
            case Wait::kTimedOut: return ReadResult::kShort;
        }
    }
    return ReadResult::kComplete;
}

// Reads a payload behind `headroom` spare bytes, growing the buffer only as
// bytes arrive so that a header that announces 32 MiB costs nothing until the
// data is really there.
ReadResult ReadPayload(Client& client, uint32_t length, size_t headroom, ReceiveBuffer& buffer, size_t* have) {
    constexpr size_t kStep = 1 << 20;
    buffer.clear();
    buffer.resize(headroom);
    *have = 0;
    while (*have < length) {
        const size_t next = std::min<size_t>(length, *have + kStep);
        buffer.resize(headroom + next);
        size_t got = 0;
        const ReadResult result = ReadExact(client, buffer.data() + headroom + *have, next - *have, &got, true);
        *have += got;
        if (result != ReadResult::kComplete) return result;
    }
    return ReadResult::kComplete;
}

void Misbehaved(Client& client) { client.connected.store(false); }

// Reads and handles one packet; false when the conversation ended.
bool HandleOnePacket(Client& client) {
    uint8_t raw[rpc::kHeaderSize];
    size_t have = 0;
    switch (ReadExact(client, raw, sizeof raw, &have, false)) {
        case ReadResult::kComplete: break;
        case ReadResult::kStopped: Misbehaved(client); return false;
        case ReadResult::kError:
            CvLog(CV_LOG_ERROR, "RPC: Unable to read on the client socket, assuming client disconnected without warning");
            Misbehaved(client);
            return false;
        case ReadResult::kEndOfStream:
            CvLog(CV_LOG_ERROR,
                  "RPC: Client disconnected without warning, shutting down RPC service for this client");
            Misbehaved(client);
            return false;
        case ReadResult::kShort:
            CvLog(CV_LOG_ERROR,
                  "RPC: Unable to read the complete packet header correcly: read %d bytes; disconnecting misbehaving "
                  "client",
                  static_cast<int>(have));
            Misbehaved(client);
            return false;
    }

    rpc::PacketHeader header;
    switch (rpc::DecodeHeader(raw, &header)) {
        case rpc::HeaderStatus::kOk: break;
        case rpc::HeaderStatus::kBadSignature:
            CvLog(CV_LOG_ERROR, "RPC: Invalid header signature on packet; disconnecting misbehaving client");
            Misbehaved(client);
            return false;
        case rpc::HeaderStatus::kOversized:
            CvLog(CV_LOG_ERROR, "RPC: Packet size is invalid: %d bytes; disconnecting misbehaving client",
                  static_cast<int>(header.length));
            Misbehaved(client);
            return false;
    }

    // The client's own buffer keeps its capacity from one packet to the next.
    ReceiveBuffer& inbound = client.inbound;
    const size_t headroom = PayloadHeadroom(header.command, header.function);
    const ReadResult read = ReadPayload(client, header.length, headroom, inbound, &have);
    if (read == ReadResult::kStopped) {
        Misbehaved(client);
        return false;
    }
    if (read != ReadResult::kComplete) {
        CvLog(CV_LOG_ERROR,
              "RPC: Unable to read the full client payload of %d bytes even though there should be data present "
              "(cmd=%d,fn=%d); disconnecting misbehaving client",
              static_cast<int>(header.length), header.command, header.function);
        Misbehaved(client);
        return false;
    }

    switch (header.command) {
        case rpc::kDisconnect:
            client.connected.store(false);
            CvLog(CV_LOG_INFO, "Client disconnected, shutting down that RPC service");
            break;
        case rpc::kCall:
            HandleCall(client, header.function, header.ticket, inbound.data() + headroom, header.length);
            break;
        case rpc::kCallResponse:
            CvLog(CV_LOG_ERROR,
                  "Client sent a 'call response', which is invalid client logic; disconnecting misbehaving client");
            Misbehaved(client);
            break;
        case rpc::kCallError:
            CvLog(CV_LOG_ERROR,
                  "Client sent a 'call error', which is invalid client logic; disconnecting misbehaving client");
            Misbehaved(client);
            break;
        case rpc::kSignal: HandleClientSignal(client, header.function, header.length); break;
        default:
            CvLog(CV_LOG_ERROR, "Unknown RPC command: %d; disconnecting misbehaving client", header.command);
            Misbehaved(client);
            break;
    }
    Recycle(inbound);
    return client.connected.load();
}


bool KeepWorking(const Client& client) {
    return client.pending.load() > 0 || (client.connected.load() && client.running.load());
}

}  // namespace

void ClientWorker(Client* client) {
    {
        Lock lock(ServerLock());
        client->workerAlive = true;
        client->workerStarted = true;
        ServerChanged().notify_all();
    }
    for (;;) {
        {
            Lock lock(ServerLock());
            if (!KeepWorking(*client)) break;
        }
        if (client->connected.load() && client->running.load()) {
            if (WaitReadable(*client, false) == Wait::kReadable) HandleOnePacket(*client);
        } else {
            // Only submits are pending: wait for their completions.
            pollfd entry{client->wakeup.Fd(), POLLIN, 0};
            if (poll(&entry, 1, -1) > 0) client->wakeup.Drain();
        }
    }
    DetachListeners(*client);
    switch (client->dropReason.load()) {
        case DropReason::kNone: break;
        case DropReason::kNotReading:
            CvLog(CV_LOG_WARNING, "Client %d does not read what is sent to it; disconnecting client",
                  static_cast<int>(client->uid));
            break;
        case DropReason::kStalled:
            CvLog(CV_LOG_WARNING, "Client %d took no data for %d seconds; disconnecting client",
                  static_cast<int>(client->uid), static_cast<int>(kStallTimeout.count()));
            break;
    }

    Lock lock(ServerLock());
    client->workerAlive = false;
    ServerChanged().notify_all();
    if (State().wakeup) State().wakeup->Signal();
}

}  // namespace cvpl_tcpip::server
