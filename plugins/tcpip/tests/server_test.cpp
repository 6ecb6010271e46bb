// The server's handling of the connection itself: handshake, protocol
// violations, client list and info, stop.
#include <arpa/inet.h>

#include <cstring>

#include "server_fixture.h"

namespace tcpip_test {
namespace {

namespace rpc = cvpl_tcpip::rpc;

TEST_F(ServerTest, RefusesAnotherProtocolVersion) {
    RawClient client(port_);
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Handshake(0x00, 0x02), 0x00);
    EXPECT_TRUE(client.ClosedWithoutAnswer());
    EXPECT_TRUE(Logged("New client is using an incompatible protocol (us: 1, them: 2); rejecting client"));

    CvUIDList clients{};
    CvError error{};
    ASSERT_TRUE(CvServer_GetClientList(server_, &clients, &error));
    EXPECT_EQ(clients.count, 0);
}

struct Violation {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
    bool endStream = false;  // send the bytes, then end the stream
};

std::vector<uint8_t> Header(uint8_t c0, uint8_t c1, uint8_t command, uint8_t function, uint32_t length) {
    std::vector<uint8_t> bytes{c0, c1, command, function, 0, 0, 0, 0};
    const auto encoded = U32s({length});
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    return bytes;
}

std::vector<uint8_t> CommandRequest(size_t uids, uint32_t bufferLength, size_t dataBytes) {
    CvCommand command{};
    command.bufferLengths[0] = bufferLength / 2;
    command.bufferLengths[3] = bufferLength - bufferLength / 2;
    std::vector<uint8_t> payload(4 * uids + sizeof command + dataBytes, 0);
    std::memcpy(payload.data() + 4 * uids, &command, sizeof command);
    return payload;
}

std::vector<Violation> Violations() {
    return {
        {"resource list with payload", CallPacket(rpc::kGetResourceList, U32s({1})),
         "Length must be 0 but was 4 on call 'get resource list'"},
        {"service list with payload", CallPacket(rpc::kGetMachineServiceList, U32s({1, 2})),
         "Length must be 0 but was 8 on call 'get machine service list'"},
        {"resource info too long", CallPacket(rpc::kGetResourceInfo, U32s({1, 2})),
         "Length must be 4 but was 8 on call 'get resource info'"},
        {"resource service info too short", CallPacket(rpc::kResourceServiceGetInfo, U32s({1})),
         "Length must be 8 but was 4 on call 'resource service get info'"},
        {"machine abort too short", CallPacket(rpc::kMachineServiceAbort, U32s({1})),
         "Length must be 8 on call 'machine service abort command'"},
        {"resource abort too long", CallPacket(rpc::kResourceServiceAbort, U32s({1, 2, 3, 4})),
         "Length must be 12 on call 'resource service abort command'"},
        {"execute shorter than its command", CallPacket(rpc::kMachineServiceExecute, std::vector<uint8_t>(59)),
         "Length must be at least 60 but was 59 on call 'machine service execute command'"},
        {"execute data one short", CallPacket(rpc::kResourceServiceExecute, CommandRequest(2, 100, 99)),
         "Length must be 164 but was 163 because of the buffers on call 'resource service execute command'"},
        {"submit data one long", CallPacket(rpc::kMachineServiceSubmit, CommandRequest(1, 100, 101)),
         "Length must be 160 but was 161 because of the buffers on call 'machine service submit command'"},
        {"call response from a client", Header('C', 'V', rpc::kCallResponse, 0, 0),
         "Client sent a 'call response', which is invalid client logic; disconnecting misbehaving client"},
        {"call error from a client", Header('C', 'V', rpc::kCallError, 0, 0),
         "Client sent a 'call error', which is invalid client logic; disconnecting misbehaving client"},
        {"unknown command", Header('C', 'V', 9, 0, 0), "Unknown RPC command: 9; disconnecting misbehaving client"},
        {"unknown call", CallPacket(12, {}), "Unknown RPC call: 12; disconnecting misbehaving client"},
        {"unknown signal", Header('C', 'V', rpc::kSignal, 10, 0),
         "Unknown RPC signal: 10; disconnecting misbehaving client"},
        {"signal with payload", rpc::PacketBuilder(rpc::kSignal, rpc::kStopLogEvents).U8(1).Finish(),
         "Length must be 0 but was 1 on signal 'start events'"},
        {"bad signature", Header('C', 'W', rpc::kCall, 0, 0),
         "RPC: Invalid header signature on packet; disconnecting misbehaving client"},
        {"oversized length", Header('C', 'V', rpc::kCall, 0, 0x2000001),
         "RPC: Packet size is invalid: 33554433 bytes; disconnecting misbehaving client"},
        {"short payload", [] {
             auto bytes = Header('C', 'V', rpc::kCall, rpc::kGetResourceInfo, 4);
             bytes.push_back(7);
             return bytes;
         }(),
         "RPC: Unable to read the full client payload of 4 bytes even though there should be data present "
         "(cmd=1,fn=6); disconnecting misbehaving client",
         true},
        {"short header", {'C', 'V', 1, 0, 0},
         "RPC: Unable to read the complete packet header correcly: read 5 bytes; disconnecting misbehaving client",
         true},
    };
}

TEST_F(ServerTest, DropsAMisbehavingClientWithoutAnswerWhileOthersKeepWorking) {
    auto bystander = Connect();
    for (const Violation& violation : Violations()) {
        SCOPED_TRACE(violation.name);
        auto offender = Connect();
        ASSERT_TRUE(offender->Send(violation.bytes));
        if (violation.endStream) offender->ShutdownWrite();
        EXPECT_TRUE(offender->ClosedWithoutAnswer());
        EXPECT_TRUE(Logged(violation.message));

        int32_t count = -1;
        EXPECT_TRUE(bystander->ListResources(&count));
        EXPECT_EQ(count, 0);
    }
}

TEST_F(ServerTest, ClientDisconnectEndsTheConversationQuietly) {
    auto client = Connect();
    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kDisconnect)));
    EXPECT_TRUE(client->ClosedWithoutAnswer());
    EXPECT_TRUE(Logged("Client disconnected, shutting down that RPC service"));
}

TEST_F(ServerTest, ListsClientsAndDescribesThem) {
    auto first = Connect();
    auto second = Connect();
    // A round trip proves each worker runs, hence each record exists.
    int32_t count = 0;
    ASSERT_TRUE(first->ListResources(&count));
    ASSERT_TRUE(second->ListResources(&count));

    CvError error{};
    CvUIDList clients{};
    ASSERT_TRUE(CvServer_GetClientList(server_, &clients, &error));
    ASSERT_EQ(clients.count, 2);
    EXPECT_LT(clients.uids[0], clients.uids[1]);

    cvpl_tcpip::CvTcpipClientInfo info{};
    ASSERT_TRUE(CvServerClient_GetInfo(server_, clients.uids[0], &info, &error)) << error.message;
    EXPECT_STREQ(info.name, "127.0.0.1");
    EXPECT_EQ(std::string(info.address).rfind("127.0.0.1:", 0), 0u);

    EXPECT_FALSE(CvServerClient_GetInfo(server_, 0xFFFF0, &info, &error));
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_STREQ(error.message, "Server client with UID 1048560 was not found");
    EXPECT_EQ(info.name[0], '\0');
}

TEST_F(ServerTest, StopSendsEveryClientADisconnect) {
    auto first = Connect();
    auto second = Connect();
    int32_t count = 0;
    ASSERT_TRUE(first->ListResources(&count));
    ASSERT_TRUE(second->ListResources(&count));

    CvError error{};
    ASSERT_TRUE(CvServer_Stop(server_, &error)) << error.message;
    for (RawClient* client : {first.get(), second.get()}) {
        Packet packet;
        ASSERT_TRUE(client->Read(&packet));
        EXPECT_EQ(packet.header.command, rpc::kDisconnect);
        EXPECT_EQ(packet.header.length, 0u);
        EXPECT_TRUE(client->ClosedWithoutAnswer());
    }
    CvUIDList clients{};
    ASSERT_TRUE(CvServer_GetClientList(server_, &clients, &error));
    EXPECT_EQ(clients.count, 0);

    // And it starts again.
    ASSERT_TRUE(Start(&error)) << error.message;
    port_ = cvpl_tcpip::ServerListeningPort();
    auto third = Connect();
    EXPECT_TRUE(third->ListResources(&count));
}

TEST_F(ServerTest, StopDoesNotWaitForAClientStuckInAPacket) {
    auto client = Connect();
    // Announces a payload that never comes.
    ASSERT_TRUE(client->Send(Header('C', 'V', rpc::kCall, rpc::kGetResourceInfo, 4)));
    CvError error{};
    ASSERT_TRUE(CvServer_Stop(server_, &error)) << error.message;
    // Caught before reading the header, the client still gets its disconnect.
    Packet packet;
    while (client->Read(&packet)) EXPECT_EQ(packet.header.command, rpc::kDisconnect);
}

TEST_F(ServerTest, RejectsABadRegistryServerLocation) {
    CvError error{};
    ASSERT_TRUE(CvServer_Stop(server_, &error));
    EXPECT_FALSE(Start(&error, "RegistryServer", "127.0.0.1:"));
    EXPECT_STREQ(error.message, "Unable to extract port from the registry server location '127.0.0.1:'");
    EXPECT_FALSE(Start(&error, "RegistryServer", "127.0.0.1:7x"));
    EXPECT_STREQ(error.message, "Unable to parse port portion of registry server location '127.0.0.1:7x'");
    EXPECT_FALSE(Start(&error, "RegistryServer", "127.0.0.1:70000"));
    EXPECT_STREQ(error.message,
                 "Host port too large (must be a 16-bit number) in registry server location '127.0.0.1:70000': 70000");
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_TRUE(Start(&error, "RegistryServer", "127.0.0.1:15587")) << error.message;
}

TEST_F(ServerTest, ListensAndAcceptsOnlyWhereConfigured) {
    CvError error{};
    ASSERT_TRUE(CvServer_Stop(server_, &error));
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "ServerPort", "0");
    StringMap_SetValue(settings, "BroadcastPort", "0");
    StringMap_SetValue(settings, "ListenAddress", "127.0.0.1");
    StringMap_SetValue(settings, "AllowedClients", "10.0.0.5, 127.0.0.2");
    ASSERT_TRUE(CvServer_Start(server_, settings, &error)) << error.message;
    port_ = cvpl_tcpip::ServerListeningPort();

    RawClient outsider(port_);  // from 127.0.0.1
    ASSERT_TRUE(outsider.Connected());
    EXPECT_TRUE(outsider.ClosedWithoutAnswer());
    EXPECT_TRUE(Logged("Client 127.0.0.1 is not allowed to connect; connection closed"));
    EXPECT_FALSE(Logged("Client 127.0.0.1 connected"));
    RawClient insider(port_, "127.0.0.2");
    ASSERT_EQ(insider.Handshake(), 0x01);
    int32_t count = -1;
    EXPECT_TRUE(insider.ListResources(&count));

    ASSERT_TRUE(CvServer_Stop(server_, &error));
    StringMap_SetValue(settings, "AllowedClients", "127.0.0.1,nonsense");
    EXPECT_FALSE(CvServer_Start(server_, settings, &error));
    EXPECT_STREQ(error.message, "Unable to parse allowed client address 'nonsense'");
    StringMap_SetValue(settings, "AllowedClients", "127.0.0.1");
    StringMap_SetValue(settings, "ListenAddress", "localhost");
    EXPECT_FALSE(CvServer_Start(server_, settings, &error));
    EXPECT_STREQ(error.message, "Unable to parse listen address 'localhost'");
    StringMap_Destroy(settings);
}

TEST_F(ServerTest, FailsToStartOnAPortInUse) {
    CvError error{};
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "ServerPort", std::to_string(port_).c_str());
    StringMap_SetValue(settings, "BroadcastPort", "0");
    // Stop frees nothing here: the port stays taken by a second, plain listener.
    ASSERT_TRUE(CvServer_Stop(server_, &error));
    int32_t blocker = SocketCreate(SOCKET_KIND_STREAM);
    InetAddress any{};
    any.port = htons(static_cast<uint16_t>(port_));
    ASSERT_EQ(SocketBind(blocker, any), 0);
    ASSERT_EQ(SocketListen(blocker, 1), 0);
    EXPECT_FALSE(CvServer_Start(server_, settings, &error));
    EXPECT_STREQ(error.message, "Server thread failed to initialize correctly, see log for details");
    EXPECT_TRUE(Logged("Unable to bind server socket to address: N/A (98)"));
    SocketDestroy(blocker);
    StringMap_Destroy(settings);
}

}  // namespace
}  // namespace tcpip_test
