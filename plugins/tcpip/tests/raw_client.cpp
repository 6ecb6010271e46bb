#include "raw_client.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cvcrt.h>

namespace tcpip_test {

namespace rpc = cvpl_tcpip::rpc;

RawClient::RawClient(int port, const char* source) {
    socket_ = SocketCreate(SOCKET_KIND_STREAM);
    if (socket_ < 0) return;
    timeval safety{30, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
    InetAddress from{};
    if (source != nullptr && (!InetIpStringToNum(source, &from.address) || SocketBind(socket_, from) != 0)) {
        SocketDestroy(socket_);
        socket_ = -1;
        return;
    }
    InetAddress server{};
    InetIpStringToNum("127.0.0.1", &server.address);
    server.port = htons(static_cast<uint16_t>(port));
    if (SocketConnect(socket_, server) != 0) {
        SocketDestroy(socket_);
        socket_ = -1;
    }
}

RawClient::~RawClient() {
    if (socket_ >= 0) SocketDestroy(socket_);
}

int RawClient::Handshake(uint8_t high, uint8_t low) {
    const uint8_t version[2] = {high, low};
    if (SocketSendAll(socket_, version, 2) != 2) return -1;
    uint8_t answer = 0;
    return SocketRecvAll(socket_, &answer, 1) == 1 ? answer : -1;
}

bool RawClient::Send(const std::vector<uint8_t>& bytes) {
    const int size = static_cast<int>(bytes.size());
    return SocketSendAll(socket_, bytes.data(), size) == size;
}

void RawClient::ShutdownWrite() { shutdown(socket_, SHUT_WR); }

bool RawClient::Read(Packet* packet) {
    uint8_t raw[rpc::kHeaderSize];
    if (SocketRecvAll(socket_, raw, sizeof raw) != static_cast<int>(sizeof raw)) return false;
    if (rpc::DecodeHeader(raw, &packet->header) != rpc::HeaderStatus::kOk) return false;
    packet->payload.resize(packet->header.length);
    if (packet->header.length == 0) return true;
    const int length = static_cast<int>(packet->header.length);
    return SocketRecvAll(socket_, packet->payload.data(), length) == length;
}

bool RawClient::ReadAnswer(Packet* packet) {
    while (Read(packet)) {
        if (packet->header.command != rpc::kSignal) return true;
        signals.push_back(*packet);
    }
    return false;
}

bool RawClient::ClosedWithoutAnswer() {
    uint8_t byte = 0;
    return SocketRecv(socket_, &byte, 1) == 0;
}

bool RawClient::ListResources(int32_t* count) {
    if (!Send(CallPacket(rpc::kGetResourceList, {}))) return false;
    Packet answer;
    if (!ReadAnswer(&answer) || answer.header.command != rpc::kCallResponse ||
        answer.payload.size() != rpc::kUIDListSize)
        return false;
    rpc::PayloadReader reader(answer.payload.data(), answer.payload.size());
    uint32_t value = 0;
    reader.U32(&value);
    *count = static_cast<int32_t>(value);
    return true;
}

std::vector<uint8_t> CallPacket(uint8_t call, const std::vector<uint8_t>& payload, uint32_t ticket) {
    return rpc::PacketBuilder(rpc::kCall, call, ticket).Bytes(payload.data(), payload.size()).Finish();
}

std::vector<uint8_t> U32s(std::initializer_list<uint32_t> values) {
    rpc::PacketBuilder builder(0, 0);
    for (uint32_t value : values) builder.U32(value);
    auto packet = builder.Finish();
    return {packet.begin() + rpc::kHeaderSize, packet.end()};
}

}  // namespace tcpip_test
