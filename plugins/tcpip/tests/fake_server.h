// A scripted stand-in for the remote access server: listens on an ephemeral
// loopback port, accepts one client, answers its handshake, and then reads and
// writes raw packets as the test says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rpc_protocol.h"

namespace tcpip_bridge_test {

struct RawPacket {
    cvpl_tcpip::rpc::PacketHeader header;
    std::vector<uint8_t> bytes;  // header and payload as received
    std::vector<uint8_t> payload;
};

class FakeServer {
public:
    FakeServer();
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    std::string url() const;
    // Accepts the client and answers its handshake with `answer`.
    bool accept(uint8_t answer = 0x01);
    bool read(RawPacket* packet);
    bool send(const std::vector<uint8_t>& bytes);
    // Closes the client's connection without a disconnect packet.
    void closeClient();

private:
    int32_t listener_ = -1;
    int32_t client_ = -1;
    int port_ = 0;
};

}  // namespace tcpip_bridge_test
