// One worker per client: reads the client's packets in arrival order and answers
// each before reading the next. It waits for the socket or its wake-up instead
// of polling on a timer, and keeps going while submitted commands are pending so
// that the client record outlives every completion.
#include <errno.h>
#include <poll.h>

#include <algorithm>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

enum class ReadResult { kComplete, kError, kEndOfStream, kShort, kStopped };

// Waits until the socket is readable; false when the server stops the worker first.
bool WaitReadable(Client& client) {
    for (;;) {
        pollfd entries[2] = {{client.socket, POLLIN, 0}, {client.wakeup.Fd(), POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return true;  // let the read report the failure
        }
        if (!client.running.load()) return false;
        if ((entries[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
        client.wakeup.Drain();
    }
}

// Reads exactly length bytes, stopping early only on failure, end of stream or stop.
ReadResult ReadExact(Client& client, uint8_t* buffer, size_t length, size_t* have) {
    *have = 0;
    while (*have < length) {
        if (!WaitReadable(client)) return ReadResult::kStopped;
        const size_t chunk = std::min<size_t>(length - *have, 1 << 20);
        const int got = SocketRecv(client.socket, buffer + *have, static_cast<int>(chunk));
        if (got < 0) {
            if (errno == EINTR) continue;
            return *have == 0 ? ReadResult::kError : ReadResult::kShort;
        }
        if (got == 0) return *have == 0 ? ReadResult::kEndOfStream : ReadResult::kShort;
        *have += static_cast<size_t>(got);
    }
    return ReadResult::kComplete;
}

// Reads a payload behind kPayloadHeadroom spare bytes, growing the buffer only
// as bytes arrive so that a header that announces 32 MiB costs nothing until
// the data is really there.
ReadResult ReadPayload(Client& client, uint32_t length, std::vector<uint8_t>& buffer, size_t* have) {
    constexpr size_t kStep = 1 << 20;
    buffer.clear();
    *have = 0;
    while (*have < length) {
        const size_t next = std::min<size_t>(length, *have + kStep);
        buffer.resize(kPayloadHeadroom + next);
        size_t got = 0;
        const ReadResult result = ReadExact(client, buffer.data() + kPayloadHeadroom + *have, next - *have, &got);
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
    switch (ReadExact(client, raw, sizeof raw, &have)) {
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
    std::vector<uint8_t>& inbound = client.inbound;
    const ReadResult read = ReadPayload(client, header.length, inbound, &have);
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
            inbound.resize(kPayloadHeadroom + header.length);
            HandleCall(client, header.function, header.ticket, inbound.data() + kPayloadHeadroom, header.length);
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

// Handles packets while the socket stays readable.
void HandlePackets(Client& client) {
    while (client.running.load() && HandleOnePacket(client)) {
        if (!SocketIsReadable(client.socket)) return;
    }
}

bool KeepWorking(const Client& client) {
    return client.pending.load() > 0 || (client.connected.load() && client.running.load());
}

}  // namespace

bool SendToClient(Client& client, const std::vector<uint8_t>& packet) {
    return SendToClient(client, packet.data(), packet.size());
}

bool SendToClient(Client& client, const uint8_t* packet, size_t length) {
    std::lock_guard lock(client.sendLock);
    if (!client.connected.load()) return false;
    const int size = static_cast<int>(length);
    if (SocketSendAll(client.socket, packet, size) != size) {
        client.connected.store(false);
        client.wakeup.Signal();
        return false;
    }
    return true;
}

void SendDisconnect(Client& client) {
    SendToClient(client, rpc::EmptyPacket(rpc::kDisconnect));
    client.connected.store(false);
}

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
            if (WaitReadable(*client)) HandlePackets(*client);
        } else {
            // Only submits are pending: wait for their completions.
            pollfd entry{client->wakeup.Fd(), POLLIN, 0};
            if (poll(&entry, 1, -1) > 0) client->wakeup.Drain();
        }
    }
    CvHotplugEventManager_RemoveListener(&client->hotplugListener);
    CvLogEventManager_RemoveListener(&client->logListener);

    Lock lock(ServerLock());
    client->workerAlive = false;
    ServerChanged().notify_all();
    if (State().wakeup) State().wakeup->Signal();
}

}  // namespace cvpl_tcpip::server
