// A client that talks raw bytes to the server over loopback, for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "rpc_protocol.h"

namespace tcpip_test {

struct Packet {
    cvpl_tcpip::rpc::PacketHeader header;
    std::vector<uint8_t> payload;
};

class RawClient {
public:
    // Connects to 127.0.0.1:port, from `source` (another loopback address) when
    // given; reads fail after a generous safety time-out instead of hanging a
    // broken test.
    explicit RawClient(int port, const char* source = nullptr);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return socket_ >= 0; }
    // Sends the version bytes and returns the server's answer byte (-1: none).
    int Handshake(uint8_t high = 0x00, uint8_t low = 0x01);
    bool Send(const std::vector<uint8_t>& bytes);
    // Ends the writing direction, so the server sees the end of the stream.
    void ShutdownWrite();
    // false at end of stream or on a broken stream.
    bool Read(Packet* packet);
    // Reads the next packet that is not a signal (signals are collected).
    bool ReadAnswer(Packet* packet);
    // True when the server closed the connection without sending anything more.
    bool ClosedWithoutAnswer();
    // A get-resource-list call that must be answered in full.
    bool ListResources(int32_t* count);

    std::vector<Packet> signals;

private:
    int32_t socket_ = -1;
};

// A call packet; a payload as little-endian 32-bit values.
std::vector<uint8_t> CallPacket(uint8_t call, const std::vector<uint8_t>& payload, uint32_t ticket = 0);
std::vector<uint8_t> U32s(std::initializer_list<uint32_t> values);

}  // namespace tcpip_test
