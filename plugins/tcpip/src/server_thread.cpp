// The server thread: owns the listening and broadcast sockets, accepts clients,
// runs their handshakes, starts their workers and reaps the ones that ended.
//
// Instead of polling accept on a timer the thread waits for the listening
// socket, the handshakes under way, or its wake-up (stop, or a worker that
// ended). No peer can hold it: handshakes are read as their bytes arrive and
// time out, and the number of connections is bounded in all and per address.
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <vector>

#include "rpc_protocol.h"
#include "server_limits.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;
using Clock = std::chrono::steady_clock;

void CloseSocket(int32_t& socket) {
    if (socket >= 0) SocketDestroy(socket);
    socket = -1;
}

// The configured listen address (every address unless set) and a port.
InetAddress ListenAddress(const ServerState& state, int32_t port) {
    InetAddress address{};
    address.address = state.listenAddress;
    address.port = htons(static_cast<uint16_t>(port));
    return address;
}

// Answers go out as soon as they are written: a call's answer is one packet
// written whole, and waiting for more to coalesce with it only adds latency.
void ConfigureClientSocket(int32_t socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
    } else if (SocketBind(s, ListenAddress(state, state.serverPort)) != 0) {
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
    } else if (SocketBind(s, ListenAddress(state, state.broadcastPort)) != 0) {
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

// A connection accepted but not yet handshaken. The server thread reads the two
// version bytes as they come, next to its other work, so a peer that sends
// nothing holds up nobody.
struct Greeting {
    int32_t socket = -1;
    InetAddress peer{};
    uint8_t version[2] = {};
    int have = 0;
    Clock::time_point deadline;
};

void CloseGreeting(Greeting& greeting) { CloseSocket(greeting.socket); }

void LogMissingHandshake() {
    CvLog(CV_LOG_WARNING, "Unable to receive new client's protocol handshake; disconnecting client: %d",
          SocketGetErrorVal());
}

// Waits for the listening socket, a handshake byte, the wake-up (stop, or a
// worker that ended) or the earliest handshake deadline; the lock is not held.
void WaitForActivity(ServerState& state, const std::vector<Greeting>& greetings) {
    bool accepting;
    {
        Lock lock(ServerLock());
        accepting = state.acceptingAllowed;
    }
    std::vector<pollfd> entries;
    entries.reserve(2 + greetings.size());
    entries.push_back({state.wakeup->Fd(), POLLIN, 0});
    entries.push_back({accepting ? state.listenSocket : -1, POLLIN, 0});
    Clock::time_point deadline = Clock::time_point::max();
    for (const Greeting& greeting : greetings) {
        entries.push_back({greeting.socket, POLLIN, 0});
        deadline = std::min(deadline, greeting.deadline);
    }
    int timeout = -1;
    if (deadline != Clock::time_point::max())
        timeout = static_cast<int>(std::max<long long>(
            0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    while (poll(entries.data(), entries.size(), timeout) < 0 && errno == EINTR) {
    }
    state.wakeup->Drain();
}

void DropNewClient(Client* client) {
    if (client->connected.load()) {
        SendDisconnect(*client);
    } else {
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send disconnect", static_cast<int>(client->uid));
    }
    ForgetClient(client);
}

// A handshaken connection becomes a client with its worker. The lock is not held on entry.
void StartClient(ServerState& state, int32_t socket, InetAddress peer) {
    const std::string dotted = InetIpNumToString(peer.address);
    auto record = std::make_unique<Client>();
    Client* client = record.get();
    client->uid = CvNextUID();
    client->peerAddress = peer.address;
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

// Whether the clients with a worker are at their limit (logged); the lock is held.
bool TooManyClients(const ServerState& state, const char* dotted) {
    if (state.clients.size() < kMaxClients) return false;
    CvLog(CV_LOG_WARNING, "Too many clients (%d); connection from %s closed", static_cast<int>(kMaxClients), dotted);
    return true;
}

// Reads what has arrived of a greeting's version bytes and answers a complete
// one; false once the greeting is finished (admitted, refused or failed).
bool ContinueGreeting(ServerState& state, Greeting& greeting) {
    while (greeting.have < 2) {
        const ssize_t got = recv(greeting.socket, greeting.version + greeting.have,
                                 static_cast<size_t>(2 - greeting.have), MSG_DONTWAIT);
        if (got > 0) {
            greeting.have += static_cast<int>(got);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (Clock::now() < greeting.deadline) return true;
            errno = ETIMEDOUT;
        }
        LogMissingHandshake();
        CloseGreeting(greeting);
        return false;
    }
    const uint16_t theirs = rpc::HandshakeVersion(greeting.version);
    if (theirs != rpc::kProtocolVersion) {
        CvLog(CV_LOG_WARNING, "New client is using an incompatible protocol (us: %hX, them: %hX); rejecting client",
              static_cast<unsigned short>(rpc::kProtocolVersion), static_cast<unsigned short>(theirs));
        const uint8_t refused = rpc::kHandshakeRefused;
        send(greeting.socket, &refused, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        CloseGreeting(greeting);
        return false;
    }
    // Others may have finished their handshakes since this one was accepted.
    bool full = false;
    {
        Lock lock(ServerLock());
        full = TooManyClients(state, InetIpNumToString(greeting.peer.address));
    }
    if (full) {
        CloseGreeting(greeting);
        return false;
    }
    // A fresh socket's send buffer is empty: one byte always fits.
    const uint8_t accepted = rpc::kHandshakeAccepted;
    if (send(greeting.socket, &accepted, 1, MSG_DONTWAIT | MSG_NOSIGNAL) != 1) {
        CloseGreeting(greeting);
        return false;
    }
    StartClient(state, greeting.socket, greeting.peer);
    greeting.socket = -1;
    return false;
}

void ContinueGreetings(ServerState& state, std::vector<Greeting>& greetings) {
    std::erase_if(greetings, [&](Greeting& greeting) { return !ContinueGreeting(state, greeting); });
}

// Connections from one address: clients and greetings.
size_t FromAddress(const ServerState& state, const std::vector<Greeting>& greetings, uint32_t address) {
    size_t count = 0;
    for (const auto& client : state.clients) count += client->peerAddress == address ? 1 : 0;
    for (const Greeting& greeting : greetings) count += greeting.peer.address == address ? 1 : 0;
    return count;
}

// Whether a new connection may proceed to its handshake. The lock is not held.
bool Admissible(ServerState& state, const std::vector<Greeting>& greetings, InetAddress peer, const char* dotted) {
    Lock lock(ServerLock());
    if (!ClientAllowed(state, peer.address)) {
        CvLog(CV_LOG_WARNING, "Client %s is not allowed to connect; connection closed", dotted);
        return false;
    }
    if (TooManyClients(state, dotted)) return false;
    if (FromAddress(state, greetings, peer.address) >= kMaxClientsPerAddress) {
        CvLog(CV_LOG_WARNING, "Too many connections from %s (%d); connection closed", dotted,
              static_cast<int>(kMaxClientsPerAddress));
        return false;
    }
    return true;
}

// Accepts every waiting connection into a greeting. The lock is not held.
void AcceptClients(ServerState& state, std::vector<Greeting>& greetings) {
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
            // Out of descriptors: the waiting connection stays queued; try again later.
            if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) return;
            CvLog(CV_LOG_ERROR,
                  "Error while using server socket to test for new client connections,this socket will be abandoned "
                  "and no new clients will be allowed: %s (%d)",
                  SocketGetErrorString(), code);
            Lock lock(ServerLock());
            state.acceptingAllowed = false;
            return;
        }
        const std::string dotted = InetIpNumToString(peer.address);
        if (!Admissible(state, greetings, peer, dotted.c_str())) {
            SocketDestroy(socket);
            continue;
        }
        CvLog(CV_LOG_INFO, "Client %s connected", dotted.c_str());
        if (SocketSetBlocking(socket) != 0) {
            const int code = SocketGetErrorVal();
            CvLog(CV_LOG_ERROR, "Unable to make client socket blocking: %s (%d)", SocketGetErrorString(), code);
            SocketDestroy(socket);
            continue;
        }
        ConfigureClientSocket(socket);
        // Connections that never greet cannot crowd out new ones: the oldest goes.
        if (greetings.size() >= kMaxPendingHandshakes) {
            errno = ETIMEDOUT;
            LogMissingHandshake();
            CloseGreeting(greetings.front());
            greetings.erase(greetings.begin());
        }
        Greeting& greeting = greetings.emplace_back();
        greeting.socket = socket;
        greeting.peer = peer;
        greeting.deadline = Clock::now() + kHandshakeTimeout;
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

    std::vector<Greeting> greetings;
    while (state.run.load()) {
        Reap(state);
        lock.unlock();
        AcceptClients(state, greetings);
        ContinueGreetings(state, greetings);
        WaitForActivity(state, greetings);
        ContinueGreetings(state, greetings);
        lock.lock();
    }
    for (Greeting& greeting : greetings) CloseGreeting(greeting);
    state.threadState = 0;
    CloseSocket(state.listenSocket);
    CloseSocket(state.broadcastSocket);
    state.boundPort = 0;
}

}  // namespace cvpl_tcpip::server
