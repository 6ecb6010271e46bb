// Arbitrary bytes after a valid handshake, sent to a running server: whatever
// they hold, the server answers or drops the client, and never crashes or hangs.
// Each input gets its own connection and is read until the server closes it.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <corvane.h>

#include "server.h"

namespace {

// Framework and server for the life of the process.
int ServerPort() {
    static const int port = [] {
        CvInitialize();
        CvError error{};
        CvUID server = CV_UID_NONE;
        if (!cvpl_tcpip::RegisterServer(&error) || !CvServerManager_LookupServer("cv-tcpip", &server, &error))
            abort();
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "ServerPort", "0");
        StringMap_SetValue(settings, "BroadcastPort", "0");
        if (!CvServer_Start(server, settings, &error)) abort();
        StringMap_Destroy(settings);
        return cvpl_tcpip::ServerListeningPort();
    }();
    return port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Larger inputs add nothing but could fill both socket buffers at once.
    constexpr size_t kMaxInput = 16 * 1024;
    if (size > kMaxInput) size = kMaxInput;

    const int32_t s = SocketCreate(SOCKET_KIND_STREAM);
    if (s < 0) abort();
    timeval safety{30, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
    InetAddress server{};
    InetIpStringToNum("127.0.0.1", &server.address);
    server.port = htons(static_cast<uint16_t>(ServerPort()));
    if (SocketConnect(s, server) != 0) abort();

    const uint8_t version[2] = {0x00, 0x01};
    uint8_t accepted = 0;
    if (SocketSendAll(s, version, 2) != 2 || SocketRecvAll(s, &accepted, 1) != 1 || accepted != 1) abort();
    if (size > 0 && SocketSendAll(s, data, static_cast<int>(size)) != static_cast<int>(size)) abort();
    shutdown(s, SHUT_WR);

    // Whatever the server answers, until it closes; a time-out means it hung.
    uint8_t sink[16384];
    int got;
    while ((got = SocketRecv(s, sink, sizeof sink)) > 0) {
    }
    if (got < 0 && (SocketGetErrorVal() == EAGAIN || SocketGetErrorVal() == EWOULDBLOCK)) abort();
    SocketDestroy(s);
    return 0;
}
