#include "fake_server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cvcrt.h>

namespace tcpip_bridge_test {

namespace rpc = cvpl_tcpip::rpc;

FakeServer::FakeServer()
{
    listener_ = SocketCreate(SOCKET_KIND_STREAM);
    InetAddress loopback{};
    InetIpStringToNum("127.0.0.1", &loopback.address);
    if (SocketBind(listener_, loopback) != 0 || SocketListen(listener_, 1) != 0) return;
    InetAddress bound{};
    if (SocketGetLocalAddress(listener_, &bound) == 0) port_ = ntohs(bound.port);
}

FakeServer::~FakeServer()
{
    closeClient();
    if (listener_ >= 0) SocketDestroy(listener_);
}

std::string FakeServer::url() const
{
    return "cv-tcpip://127.0.0.1:" + std::to_string(port_);
}

bool FakeServer::accept(uint8_t answer)
{
    client_ = SocketAccept(listener_, nullptr);
    if (client_ < 0) return false;
    // A broken test fails instead of hanging.
    timeval safety{30, 0};
    setsockopt(client_, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
    uint8_t version[2] = {};
    if (SocketRecvAll(client_, version, 2) != 2) return false;
    return version[0] == 0x00 && version[1] == 0x01 && SocketSendAll(client_, &answer, 1) == 1;
}

bool FakeServer::read(RawPacket* packet)
{
    uint8_t raw[rpc::kHeaderSize];
    if (SocketRecvAll(client_, raw, sizeof raw) != static_cast<int>(sizeof raw)) return false;
    rpc::DecodeHeader(raw, &packet->header);
    packet->payload.resize(packet->header.length);
    const int length = static_cast<int>(packet->header.length);
    if (length != 0 && SocketRecvAll(client_, packet->payload.data(), length) != length) return false;
    packet->bytes.assign(raw, raw + sizeof raw);
    packet->bytes.insert(packet->bytes.end(), packet->payload.begin(), packet->payload.end());
    return true;
}

bool FakeServer::send(const std::vector<uint8_t>& bytes)
{
    const int length = static_cast<int>(bytes.size());
    return SocketSendAll(client_, bytes.data(), length) == length;
}

void FakeServer::closeClient()
{
    if (client_ >= 0) SocketDestroy(client_);
    client_ = -1;
}

}  // namespace tcpip_bridge_test
