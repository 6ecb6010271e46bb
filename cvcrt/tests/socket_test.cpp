// Sockets over loopback on ephemeral ports, address conversion and readiness.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <thread>
#include <vector>

#include "cvcrt.h"

namespace {

InetAddress Loopback(uint16_t portNetworkOrder = 0) {
    InetAddress address{};
    EXPECT_EQ(InetIpStringToNum("127.0.0.1", &address.address), 1);
    address.port = portNetworkOrder;
    return address;
}

// A connected pair of stream sockets.
struct Pair {
    int32_t client = -1;
    int32_t server = -1;
    Pair() {
        const int32_t listener = SocketCreate(SOCKET_KIND_STREAM);
        EXPECT_EQ(SocketBind(listener, Loopback()), 0);
        EXPECT_EQ(SocketListen(listener, 1), 0);
        InetAddress bound{};
        EXPECT_EQ(SocketGetLocalAddress(listener, &bound), 0);
        client = SocketCreate(SOCKET_KIND_STREAM);
        EXPECT_EQ(SocketConnect(client, Loopback(bound.port)), 0);
        InetAddress peer{};
        server = SocketAccept(listener, &peer);
        EXPECT_GE(server, 0);
        EXPECT_EQ(peer.address, Loopback().address);
        SocketDestroy(listener);
    }
    ~Pair() {
        if (client >= 0) SocketDestroy(client);
        if (server >= 0) SocketDestroy(server);
    }
};

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CrtInitialize(), 0); }
    void TearDown() override { CrtUninitialize(); }
};

TEST_F(SocketTest, ConvertsDottedAddresses) {
    uint32_t address = 0xDEADBEEF;
    ASSERT_EQ(InetIpStringToNum("10.0.0.5", &address), 1);
    EXPECT_EQ(address, htonl(0x0A000005));
    EXPECT_STREQ(InetIpNumToString(address), "10.0.0.5");

    address = 0xDEADBEEF;
    EXPECT_EQ(InetIpStringToNum("255.255.255.255", &address), 0);
    EXPECT_EQ(InetIpStringToNum("10.0.0", &address), 0);
    EXPECT_EQ(InetIpStringToNum("localhost", &address), 0);
    EXPECT_EQ(InetIpStringToNum("256.1.1.1", &address), 0);
    EXPECT_EQ(address, 0xDEADBEEFu);

    ASSERT_EQ(InetIpNumByName("localhost", &address), 1);
    EXPECT_EQ(address, htonl(0x7F000001));
    EXPECT_EQ(InetIpNumByName("no-such-host.invalid", &address), 0);
}

TEST_F(SocketTest, RefusesAnUnknownKindWithoutASocket) {
    EXPECT_EQ(SocketCreate(2), SOCKET_INVALID);
    EXPECT_EQ(SocketCreate(-1), SOCKET_INVALID);
    EXPECT_STREQ(SocketGetErrorString(), "N/A");
}

TEST_F(SocketTest, SendsAndReceivesEverything) {
    Pair pair;
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    std::thread sender([&] { EXPECT_EQ(SocketSendAll(pair.client, data.data(), static_cast<int>(data.size())),
                                       static_cast<int>(data.size())); });
    std::vector<uint8_t> received(data.size());
    EXPECT_EQ(SocketRecvAll(pair.server, received.data(), static_cast<int>(received.size())),
              static_cast<int>(received.size()));
    sender.join();
    EXPECT_EQ(received, data);
}

TEST_F(SocketTest, ReceiveAllReportsAPeerThatClosedEarly) {
    Pair pair;
    const char partial[3] = {'a', 'b', 'c'};
    ASSERT_EQ(SocketSend(pair.client, partial, 3), 3);
    SocketDestroy(pair.client);
    pair.client = -1;
    char buffer[8] = {};
    EXPECT_EQ(SocketRecvAll(pair.server, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
}

TEST_F(SocketTest, SendAllToAClosedPeerFailsWithoutASignal) {
    Pair pair;
    SocketDestroy(pair.server);
    pair.server = -1;
    std::vector<uint8_t> data(1 << 16);
    int result = 0;
    // The first write may still be taken by the kernel; a later one fails.
    for (int i = 0; i < 64 && result >= 0; ++i) result = SocketSendAll(pair.client, data.data(), 1 << 16);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(SocketGetErrorVal() == EPIPE || SocketGetErrorVal() == ECONNRESET) << SocketGetErrorVal();
}

TEST_F(SocketTest, PollReportsReadinessAndRewritesEveryItem) {
    Pair pair;
    SocketPollItem items[2] = {{pair.server, SOCKET_EVENT_READABLE, SOCKET_EVENT_WRITABLE},
                               {pair.client, SOCKET_EVENT_WRITABLE, 0}};
    EXPECT_EQ(SocketPoll(items, 2, 0), 1);
    EXPECT_EQ(items[0].revents, 0) << "a stale writable bit is cleared";
    EXPECT_EQ(items[1].revents, SOCKET_EVENT_WRITABLE);
    EXPECT_EQ(SocketIsReadable(pair.server), 0);
    EXPECT_EQ(SocketIsWritable(pair.client), 1);

    ASSERT_EQ(SocketSend(pair.client, "x", 1), 1);
    EXPECT_EQ(SocketPoll(items, 1, 5000), 1);
    EXPECT_EQ(items[0].revents, SOCKET_EVENT_READABLE);
    EXPECT_EQ(SocketIsReadable(pair.server), 1);

    // Urgent data is the exceptional condition, reported whatever was asked for.
    ASSERT_EQ(send(pair.client, "u", 1, MSG_OOB), 1);
    items[0].events = SOCKET_EVENT_READABLE;
    EXPECT_GE(SocketPoll(items, 1, 5000), 1);
    EXPECT_NE(items[0].revents & SOCKET_EVENT_ERROR, 0);

    SocketPollItem closed{1 << 20, SOCKET_EVENT_READABLE, 0};
    EXPECT_EQ(SocketPoll(&closed, 1, 0), -1);
}

TEST_F(SocketTest, PollWatchesAtMost64SocketsPerSet) {
    Pair pair;
    ASSERT_EQ(SocketSend(pair.client, "x", 1), 1);
    std::vector<SocketPollItem> items(65, SocketPollItem{pair.client, SOCKET_EVENT_READABLE, 0});
    items[64].socket = pair.server;  // readable, but the 65th of the read set
    EXPECT_EQ(SocketPoll(items.data(), 65, 0), 0);
    EXPECT_EQ(items[64].revents, 0);
    items[0].socket = pair.server;
    EXPECT_EQ(SocketPoll(items.data(), 65, 0), 1);
    EXPECT_EQ(items[0].revents, SOCKET_EVENT_READABLE);
}

TEST_F(SocketTest, CarriesDatagrams) {
    const int32_t receiver = SocketCreate(SOCKET_KIND_DATAGRAM);
    const int32_t sender = SocketCreate(SOCKET_KIND_DATAGRAM);
    ASSERT_EQ(SocketEnableReuseAddr(receiver), 0);
    ASSERT_EQ(SocketEnableBroadcast(receiver), 0);
    ASSERT_EQ(SocketBind(receiver, Loopback()), 0);
    InetAddress bound{};
    ASSERT_EQ(SocketGetLocalAddress(receiver, &bound), 0);
    ASSERT_EQ(SocketSendDatagram(sender, "ping", 4, Loopback(bound.port)), 4);
    char buffer[16] = {};
    InetAddress from{};
    EXPECT_EQ(SocketRecvDatagram(receiver, buffer, sizeof buffer, &from), 4);
    EXPECT_STREQ(buffer, "ping");
    EXPECT_EQ(from.address, Loopback().address);
    ASSERT_EQ(SocketSetNonBlocking(receiver), 0);
    EXPECT_EQ(SocketRecvDatagram(receiver, buffer, sizeof buffer, nullptr), -1);
    EXPECT_EQ(SocketGetErrorVal(), EAGAIN);
    EXPECT_EQ(SocketSetBlocking(receiver), 0);
    SocketDestroy(receiver);
    SocketDestroy(sender);
}

}  // namespace
