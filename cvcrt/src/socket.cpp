// IPv4 stream and datagram sockets on the POSIX socket interface.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cvcrt/net.h"
#include "cvcrt/runtime.h"

namespace {

sockaddr_in ToPlatform(InetAddress address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address.address;
    result.sin_port = address.port;
    return result;
}

InetAddress FromPlatform(const sockaddr_in& address) {
    InetAddress result{};
    result.address = address.sin_addr.s_addr;
    result.port = address.sin_port;
    return result;
}

int SetFlag(int32_t socket, int level, int option, int value) {
    return setsockopt(socket, level, option, &value, sizeof value) == 0 ? 0 : -1;
}

int SetNonBlocking(int32_t socket, bool on) {
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0) return -1;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(socket, F_SETFL, wanted) == 0 ? 0 : -1;
}

}  // namespace

int32_t SocketCreate(int32_t kind) {
    switch (kind) {
        case SOCKET_KIND_STREAM: return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        case SOCKET_KIND_DATAGRAM: return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        default: errno = EINVAL; return SOCKET_INVALID;
    }
}

int SocketDestroy(int32_t socket) { return close(socket); }

int SocketEnableReuseAddr(int32_t socket) { return SetFlag(socket, SOL_SOCKET, SO_REUSEADDR, 1); }
int SocketDisableReuseAddr(int32_t socket) { return SetFlag(socket, SOL_SOCKET, SO_REUSEADDR, 0); }
int SocketEnableBroadcast(int32_t socket) { return SetFlag(socket, SOL_SOCKET, SO_BROADCAST, 1); }
int SocketDisableBroadcast(int32_t socket) { return SetFlag(socket, SOL_SOCKET, SO_BROADCAST, 0); }
int SocketSetNonBlocking(int32_t socket) { return SetNonBlocking(socket, true); }
int SocketSetBlocking(int32_t socket) { return SetNonBlocking(socket, false); }

int SocketConnect(int32_t socket, InetAddress address) {
    const sockaddr_in target = ToPlatform(address);
    int result;
    do {
        result = connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : -1;
}

int SocketBind(int32_t socket, InetAddress address) {
    const sockaddr_in local = ToPlatform(address);
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : -1;
}

int SocketListen(int32_t socket, int backlog) { return listen(socket, backlog) == 0 ? 0 : -1; }

int32_t SocketAccept(int32_t socket, InetAddress* peer) {
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const int accepted = accept4(socket, reinterpret_cast<sockaddr*>(&from), &size, SOCK_CLOEXEC);
    if (accepted < 0) return SOCKET_INVALID;
    if (peer != nullptr) *peer = FromPlatform(from);
    return accepted;
}

int SocketGetLocalAddress(int32_t socket, InetAddress* local) {
    if (local == nullptr) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return -1;
    *local = FromPlatform(bound);
    return 0;
}

// MSG_NOSIGNAL: a peer that has gone away yields EPIPE instead of killing the process.
int SocketSend(int32_t socket, const void* data, int length) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL));
}

int SocketRecv(int32_t socket, void* buffer, int length) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(recv(socket, buffer, static_cast<size_t>(length), 0));
}

int SocketSendAll(int32_t socket, const void* data, int length) {
    const char* next = static_cast<const char*>(data);
    int remaining = length;
    while (remaining > 0) {
        const int sent = SocketSend(socket, next, remaining);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return sent;
        }
        if (sent == 0) {
            CrtSleepMili(1000);
            continue;
        }
        next += sent;
        remaining -= sent;
    }
    return length;
}

int SocketRecvAll(int32_t socket, void* buffer, int length) {
    char* next = static_cast<char*>(buffer);
    int remaining = length;
    while (remaining > 0) {
        const int received = SocketRecv(socket, next, remaining);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return received;
        next += received;
        remaining -= received;
    }
    return length;
}

int SocketSendDatagram(int32_t socket, const void* data, int length, InetAddress to) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    const sockaddr_in target = ToPlatform(to);
    return static_cast<int>(sendto(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&target), sizeof target));
}

int SocketRecvDatagram(int32_t socket, void* buffer, int size, InetAddress* from) {
    if (size < 0) {
        errno = EINVAL;
        return -1;
    }
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    const auto received = recvfrom(socket, buffer, static_cast<size_t>(size), 0,
                                   reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (received >= 0 && from != nullptr) *from = FromPlatform(sender);
    return static_cast<int>(received);
}

int SocketGetErrorVal(void) { return errno; }

const char* SocketGetErrorString(void) { return "N/A"; }
