// The server thread: owns the listening and broadcast sockets, accepts clients,
// runs their handshake, starts their workers and reaps the ones that ended.
//
// Instead of polling accept on a timer the thread waits for the listening socket
// to become readable or for its wake-up (stop, or a worker that ended).
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>

#include <system_error>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

void CloseSocket(int32_t& socket) {
    if (socket >= 0) SocketDestroy(socket);
    socket = -1;
}

InetAddress AnyAddress(int32_t port) {
    InetAddress address{};
    address.address = htonl(INADDR_ANY);
    address.port = htons(static_cast<uint16_t>(port));
    return address;
}

// Logs a socket failure with the socket error text and number.
#define LOG_SOCKET_FAILURE(format) CvLog(CV_LOG_ERROR, format, SocketGetErrorString(), SocketGetErrorVal())

bool OpenListeningSocket(ServerState& state) {
    int32_t& s = state.listenSocket;
    s = SocketCreate(SOCKET_KIND_STREAM);
    constexpr int kQueueSize = 5;
    if (s < 0) {
        CvLog(CV_LOG_ERROR, "Unable to create server socket");
    } else if (SocketEnableReuseAddr(s) != 0) {
        LOG_SOCKET_FAILURE("Unable to enable server socket address reuse: %s (%d)");
    } else if (SocketSetNonBlocking(s) != 0) {
        LOG_SOCKET_FAILURE("Unable to make server socket non-blocking: %s (%d)");
    } else if (SocketBind(s, AnyAddress(state.serverPort)) != 0) {
        LOG_SOCKET_FAILURE("Unable to bind server socket to address: %s (%d)");
    } else if (SocketListen(s, kQueueSize) != 0) {
        CvLog(CV_LOG_ERROR, "Unable to listen on server socket (queuesize=%d): %s (%d)", kQueueSize,
              SocketGetErrorString(), SocketGetErrorVal());
    } else {
        InetAddress bound{};
        state.boundPort = SocketGetLocalAddress(s, &bound) == 0 ? ntohs(bound.port) : state.serverPort;
        return true;
    }
    CloseSocket(s);
    return false;
}

// Nothing is read from or sent on it: it holds the port while the server runs.
bool OpenBroadcastSocket(ServerState& state) {
    int32_t& s = state.broadcastSocket;
    s = SocketCreate(SOCKET_KIND_DATAGRAM);
    if (s < 0) {
        CvLog(CV_LOG_ERROR, "Unable to create broadcast socket");
    } else if (SocketEnableReuseAddr(s) != 0) {
        LOG_SOCKET_FAILURE("Unable to enable broadcast server socket address reuse: %s (%d)");
    } else if (SocketEnableBroadcast(s) != 0) {
        LOG_SOCKET_FAILURE("Unable to enable broadcast socket to receive broadcast messages: %s (%d)");
    } else if (SocketSetNonBlocking(s) != 0) {
        LOG_SOCKET_FAILURE("Unable to make broadcast socket non-blocking: %s (%d)");
    } else if (SocketBind(s, AnyAddress(state.broadcastPort)) != 0) {
        LOG_SOCKET_FAILURE("Unable to bind broadcast socket to address: %s (%d)");
    } else {
        return true;
    }
    CloseSocket(s);
    CloseSocket(state.listenSocket);
    return false;
}

void Reap(ServerState& state) {
    for (size_t i = state.clients.size(); i-- > 0;) {
        Client* client = state.clients[i].get();
        if (client->workerAlive) continue;
        if (client->worker.joinable()) client->worker.join();
        ForgetClient(client);
    }
}

// Waits for the listening socket or the wake-up; the lock is not held.
void WaitForActivity(ServerState& state) {
    bool accepting;
    {
        Lock lock(ServerLock());
        accepting = state.acceptingAllowed;
    }
    pollfd entries[2] = {{state.wakeup->Fd(), POLLIN, 0}, {accepting ? state.listenSocket : -1, POLLIN, 0}};
    while (poll(entries, 2, -1) < 0 && errno == EINTR) {
    }
    state.wakeup->Drain();
}

// Reads the client's two handshake bytes, giving up when the server is told to stop.
int ReadHandshake(ServerState& state, int32_t socket, uint8_t bytes[2]) {
    int have = 0;
    while (have < 2) {
        pollfd entries[2] = {{socket, POLLIN, 0}, {state.wakeup->Fd(), POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return have;
        }
        if (!state.run.load()) return have;
        if ((entries[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            state.wakeup->Drain();
            continue;
        }
        const int got = SocketRecv(socket, bytes + have, 2 - have);
        if (got <= 0) return have;
        have += got;
    }
    return have;
}

void DropNewClient(Client* client) {
    if (client->connected.load()) {
        SendDisconnect(*client);
    } else {
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send disconnect", static_cast<int>(client->uid));
    }
    ForgetClient(client);
}

// One connection: handshake, client record, worker. The lock is not held on entry.
void AdmitClient(ServerState& state, int32_t socket, InetAddress peer) {
    const std::string dotted = InetIpNumToString(peer.address);
    CvLog(CV_LOG_INFO, "Client %s connected", dotted.c_str());
    if (SocketSetBlocking(socket) != 0) {
        const int code = SocketGetErrorVal();
        CvLog(CV_LOG_ERROR, "Unable to make client socket blocking: %s (%d)", SocketGetErrorString(), code);
        SocketDestroy(socket);
        return;
    }
    uint8_t version[2] = {};
    if (ReadHandshake(state, socket, version) < 2) {
        CvLog(CV_LOG_WARNING, "Unable to receive new client's protocol handshake; disconnecting client: %d",
              SocketGetErrorVal());
        SocketDestroy(socket);
        return;
    }
    const uint16_t theirs = rpc::HandshakeVersion(version);
    if (theirs != rpc::kProtocolVersion) {
        CvLog(CV_LOG_WARNING, "New client is using an incompatible protocol (us: %hX, them: %hX); rejecting client",
              static_cast<unsigned short>(rpc::kProtocolVersion), static_cast<unsigned short>(theirs));
        const uint8_t refused = rpc::kHandshakeRefused;
        SocketSendAll(socket, &refused, 1);
        SocketDestroy(socket);
        return;
    }
    const uint8_t accepted = rpc::kHandshakeAccepted;
    if (SocketSendAll(socket, &accepted, 1) != 1) {
        SocketDestroy(socket);
        return;
    }

    auto record = std::make_unique<Client>();
    Client* client = record.get();
    client->uid = CvNextUID();
    snprintf(client->info.name, sizeof client->info.name, "%s", dotted.c_str());
    snprintf(client->info.address, sizeof client->info.address, "%s:%d", dotted.c_str(), ntohs(peer.port));
    client->socket = socket;
    InitListeners(*client);

    Lock lock(ServerLock());
    state.clients.push_back(std::move(record));
    bool started = client->wakeup.Valid();
    if (started) {
        try {
            client->worker = std::thread(ClientWorker, client);
        } catch (const std::system_error&) {
            started = false;
        }
    }
    if (!started) {
        CvLog(CV_LOG_ERROR, "Unable to create client worker thread, client will be disconnected");
        DropNewClient(client);
        return;
    }
    // The worker may already have run to its end (a client that left at once).
    ServerChanged().wait(lock, [client] { return client->workerStarted; });
}

// Accepts every waiting connection. The lock is not held.
void AcceptClients(ServerState& state) {
    for (;;) {
        {
            Lock lock(ServerLock());
            if (!state.acceptingAllowed || !state.run.load()) return;
        }
        InetAddress peer{};
        const int32_t socket = SocketAccept(state.listenSocket, &peer);
        if (socket < 0) {
            const int code = SocketGetErrorVal();
            if (code == EAGAIN || code == EWOULDBLOCK || code == EINTR) return;
            // A client that gave up before being accepted is no fault of the socket.
            if (code == ECONNABORTED || code == EPROTO) continue;
            CvLog(CV_LOG_ERROR,
                  "Error while using server socket to test for new client connections,this socket will be abandoned "
                  "and no new clients will be allowed: %s (%d)",
                  SocketGetErrorString(), code);
            Lock lock(ServerLock());
            state.acceptingAllowed = false;
            return;
        }
        AdmitClient(state, socket, peer);
    }
}

}  // namespace

void ForgetClient(Client* client) {
    ServerState& state = State();
    CloseSocket(client->socket);
    for (auto it = state.clients.begin(); it != state.clients.end(); ++it) {
        if (it->get() == client) {
            state.clients.erase(it);
            return;
        }
    }
}

void ServerThread() {
    ServerState& state = State();
    Lock lock(ServerLock());
    if (!OpenListeningSocket(state) || !OpenBroadcastSocket(state)) {
        state.threadState = -1;
        ServerChanged().notify_all();
        return;
    }
    state.threadState = 1;
    ServerChanged().notify_all();
    CvLog(CV_LOG_INFO, "Server listening on port %d", state.boundPort);

    while (state.run.load()) {
        Reap(state);
        lock.unlock();
        AcceptClients(state);
        WaitForActivity(state);
        lock.lock();
    }
    state.threadState = 0;
    CloseSocket(state.listenSocket);
    CloseSocket(state.broadcastSocket);
    state.boundPort = 0;
}

}  // namespace cvpl_tcpip::server
