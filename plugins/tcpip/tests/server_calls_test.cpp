// Calls answered by the server against this process's framework, and the
// signals it sends on its own.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server_fixture.h"
#include "service_doubles.h"

namespace tcpip_test {
namespace {

namespace rpc = cvpl_tcpip::rpc;
using corvane_test::ResourceDouble;
using corvane_test::ServiceDouble;

class ServerCallTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        CvError error{};
        resource_ = drive_.add(&error);
        ASSERT_NE(resource_, CV_UID_NONE) << error.message;
        ASSERT_TRUE(CvResource_RegisterService(resource_, service_.descriptor(), &serviceUid_, &error))
            << error.message;
    }

    // The last submit the service accepted, held until the test completes it.
    struct HeldSubmit {
        std::mutex mutex;
        CvCommand* command = nullptr;
        CvCommandCompletion* completion = nullptr;
        void complete() { completion->complete(completion, command); }
    };
    void HoldSubmits(HeldSubmit& held) {
        service_.submit = [&held](CvCommand* command, CvCommandCompletion* completion, CvError* error) {
            std::lock_guard lock(held.mutex);
            held.command = command;
            held.completion = completion;
            return CvSetNoThreadError(error);
        };
    }

    ResourceDouble drive_{"drive0"};
    ServiceDouble service_{"test/device"};
    CvUID resource_ = CV_UID_NONE;
    CvUID serviceUid_ = CV_UID_NONE;
};

TEST_F(ServerCallTest, AnswersGetResourceInfoByteForByte) {
    auto client = Connect();
    const auto call = CallPacket(rpc::kGetResourceInfo, U32s({resource_}));
    ASSERT_EQ(call.size(), 16u);
    const std::vector<uint8_t> expectedCall{0x43, 0x56, 0x01, 0x06, 0, 0, 0, 0, 0x04, 0, 0, 0,
                                            static_cast<uint8_t>(resource_), static_cast<uint8_t>(resource_ >> 8),
                                            static_cast<uint8_t>(resource_ >> 16),
                                            static_cast<uint8_t>(resource_ >> 24)};
    EXPECT_EQ(call, expectedCall);
    ASSERT_TRUE(client->Send(call));

    uint8_t header[rpc::kHeaderSize];
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    rpc::EncodeHeader(answer.header, header);
    const std::vector<uint8_t> expectedHeader{0x43, 0x56, 0x02, 0x00, 0, 0, 0, 0, 0x00, 0x02, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(header, header + sizeof header), expectedHeader);
    ASSERT_EQ(answer.payload.size(), 512u);
    CvResourceInfo info{};
    std::memcpy(&info, answer.payload.data(), sizeof info);
    EXPECT_STREQ(info.name, "drive0");
    EXPECT_STREQ(info.description, "A resource of the tests");
}

TEST_F(ServerCallTest, EchoesTheTicketAndAnswersFailuresWithACallError) {
    auto client = Connect();
    const CvUID unknown = resource_ + 1000;
    ASSERT_TRUE(client->Send(CallPacket(rpc::kGetResourceInfo, U32s({unknown}), 77)));
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    EXPECT_EQ(answer.header.command, rpc::kCallError);
    EXPECT_EQ(answer.header.ticket, 77u);
    ASSERT_EQ(answer.payload.size(), 256u);
    CvError error{};
    std::memcpy(&error, answer.payload.data(), sizeof error);
    // The framework's own error record, unchanged.
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_EQ(std::string(error.message), "Resource with UID " + std::to_string(unknown) + " was not found");
}

TEST_F(ServerCallTest, ListsAndDescribesServices) {
    auto client = Connect();
    ASSERT_TRUE(client->Send(CallPacket(rpc::kGetResourceServiceList, U32s({resource_}))));
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_EQ(answer.payload.size(), rpc::kUIDListSize);
    CvUIDList list{};
    std::memcpy(&list, answer.payload.data(), sizeof list);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list.uids[0], serviceUid_);

    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceGetInfo, U32s({resource_, serviceUid_}))));
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_EQ(answer.payload.size(), 64u);
    EXPECT_STREQ(reinterpret_cast<const char*>(answer.payload.data()), "test/device");
}

// Request for call 9 or 10: UIDs, a command with buffers 0 and 2, and their data.
std::vector<uint8_t> CommandCall(CvUID resource, CvUID service, uint32_t tag) {
    CvCommand command{};
    command.function = 0x25;
    command.tag = tag;
    command.bufferLengths[0] = 4;
    command.bufferLengths[2] = 3;
    rpc::PacketBuilder payload(0, 0);
    payload.U32(resource).U32(service).Raw(command);
    const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
    payload.Bytes(data, sizeof data);
    auto bytes = payload.Finish();
    return {bytes.begin() + rpc::kHeaderSize, bytes.end()};
}

TEST_F(ServerCallTest, ExecutesACommandAndReturnsResultAndBuffers) {
    service_.execute = [](CvCommand* command, CvError* error) {
        command->result = 0x5A;
        static_cast<uint8_t*>(command->buffers[0])[0] = 0xEE;
        static_cast<uint8_t*>(command->buffers[2])[2] = 0xDD;
        return CvSetNoThreadError(error);
    };
    auto client = Connect();
    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceExecute, CommandCall(resource_, serviceUid_, 9))));
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_EQ(answer.header.command, rpc::kCallResponse);
    ASSERT_EQ(answer.payload.size(), 56u + 7u);
    CvCommand command{};
    std::memcpy(&command, answer.payload.data(), sizeof command);
    EXPECT_EQ(command.result, 0x5A);
    EXPECT_EQ(command.function, 0x25);
    EXPECT_EQ(command.tag, 9u);
    const std::vector<uint8_t> data(answer.payload.begin() + 56, answer.payload.end());
    EXPECT_EQ(data, (std::vector<uint8_t>{0xEE, 2, 3, 4, 5, 6, 0xDD}));
}

TEST_F(ServerCallTest, AnswersASubmitAtOnceAndSignalsItsCompletion) {
    HeldSubmit held;
    HoldSubmits(held);
    auto client = Connect();
    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceSubmit, CommandCall(resource_, serviceUid_, 31))));
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    EXPECT_EQ(answer.header.command, rpc::kCallResponse);
    EXPECT_EQ(answer.header.length, 0u);

    {
        std::lock_guard lock(held.mutex);
        ASSERT_NE(held.command, nullptr);
        held.command->result = 3;
        static_cast<uint8_t*>(held.command->buffers[2])[0] = 0xAB;
        CvSetError(&held.completion->error, CV_ERROR_FAILED, "medium error");
    }
    held.complete();
    CvResourceService_NotifyCommandCompleted(resource_, serviceUid_);

    Packet signal;
    ASSERT_TRUE(client->Read(&signal));
    EXPECT_EQ(signal.header.command, rpc::kSignal);
    EXPECT_EQ(signal.header.function, rpc::kResourceServiceCommandComplete);
    ASSERT_EQ(signal.payload.size(), 320u + 7u);
    rpc::PayloadReader reader(signal.payload.data(), signal.payload.size());
    uint32_t resource = 0, service = 0;
    CvCommand command{};
    CvError error{};
    reader.U32(&resource);
    reader.U32(&service);
    reader.Raw(&command);
    reader.Raw(&error);
    EXPECT_EQ(resource, resource_);
    EXPECT_EQ(service, serviceUid_);
    EXPECT_EQ(command.tag, 31u);
    EXPECT_EQ(command.result, 3);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "medium error");
    const std::vector<uint8_t> data(reader.Cursor(), reader.Cursor() + reader.Remaining());
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 4, 0xAB, 6, 7}));
}

TEST_F(ServerCallTest, KeepsTheClientUntilItsSubmitCompletes) {
    HeldSubmit held;
    HoldSubmits(held);
    LogWaiter waiter;
    auto client = Connect();
    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceSubmit, CommandCall(resource_, serviceUid_, 5))));
    Packet answer;
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kDisconnect)));
    client.reset();
    ASSERT_TRUE(waiter.WaitFor("Client disconnected, shutting down that RPC service"));

    CvError error{};
    CvUIDList clients{};
    ASSERT_TRUE(CvServer_GetClientList(server_, &clients, &error));
    EXPECT_EQ(clients.count, 1);
    {
        std::lock_guard lock(held.mutex);
        ASSERT_NE(held.command, nullptr);
    }
    held.complete();
    CvResourceService_NotifyCommandCompleted(resource_, serviceUid_);
    // Stop waits for the worker, which has ended or ends now.
    ASSERT_TRUE(CvServer_Stop(server_, &error));
    EXPECT_TRUE(Logged("Client " + std::to_string(clients.uids[0]) + " is diconnected, cannot send signal 31"))
        << ::testing::PrintToString(log_->messages());
}

// Reads signals until one with this number arrives; events of the fixture's
// own registrations may still be on their way and come first.
bool ReadSignal(RawClient& client, uint8_t function, Packet* signal) {
    while (client.Read(signal)) {
        if (signal->header.command == rpc::kSignal && signal->header.function == function) return true;
    }
    return false;
}

TEST_F(ServerCallTest, ForwardsLogLinesCutTo1023Characters) {
    auto client = Connect();
    // Started twice, it is still one subscription, which one stop ends.
    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kSignal, rpc::kStartLogEvents)));
    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kSignal, rpc::kStartLogEvents)));
    // A round trip makes sure the signal has been handled.
    int32_t count = 0;
    ASSERT_TRUE(client->ListResources(&count));

    CvLog(CV_LOG_WARNING, "%s", std::string(2000, 'x').c_str());
    Packet signal;
    do {
        ASSERT_TRUE(ReadSignal(*client, rpc::kLog, &signal));
    } while (signal.payload.size() != 1025u);
    EXPECT_EQ(signal.payload[0], CV_LOG_WARNING);
    EXPECT_EQ(signal.payload[1023], 'x');
    EXPECT_EQ(signal.payload[1024], 0);

    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kSignal, rpc::kStopLogEvents)));
    ASSERT_TRUE(client->ListResources(&count));
    client->signals.clear();
    // A forwarded line would be written before CvLog returns, so before the answer.
    CvLog(CV_LOG_WARNING, "not forwarded");
    ASSERT_TRUE(client->ListResources(&count));
    for (const Packet& late : client->signals) {
        if (late.header.function != rpc::kLog) continue;
        EXPECT_STRNE(reinterpret_cast<const char*>(late.payload.data() + 1), "not forwarded");
    }
}

TEST_F(ServerCallTest, ForwardsHotplugEvents) {
    auto client = Connect();
    ASSERT_TRUE(client->Send(rpc::EmptyPacket(rpc::kSignal, rpc::kStartHotplugEvents)));
    int32_t count = 0;
    ASSERT_TRUE(client->ListResources(&count));

    ResourceDouble second("drive1");
    CvError error{};
    const CvUID added = second.add(&error);
    ASSERT_NE(added, CV_UID_NONE);
    Packet signal;
    ASSERT_TRUE(ReadSignal(*client, rpc::kResourceAdded, &signal));
    ASSERT_EQ(signal.payload.size(), 516u);
    uint32_t uid = 0;
    std::memcpy(&uid, signal.payload.data(), 4);
    EXPECT_EQ(uid, added);
    EXPECT_STREQ(reinterpret_cast<const char*>(signal.payload.data() + 4), "drive1");
    ASSERT_TRUE(CvResourceManager_Unregister(added, &error));
    ASSERT_TRUE(ReadSignal(*client, rpc::kResourceRemoved, &signal));
    EXPECT_EQ(signal.payload.size(), 4u);
}

// Request for call 9 or 10 whose buffer 1 holds `data`.
std::vector<uint8_t> DataCall(CvUID resource, CvUID service, uint32_t tag, const std::vector<uint8_t>& data) {
    CvCommand command{};
    command.function = 0x26;
    command.tag = tag;
    command.bufferLengths[1] = static_cast<uint32_t>(data.size());
    rpc::PacketBuilder payload(0, 0);
    payload.U32(resource).U32(service).Raw(command).Bytes(data.data(), data.size());
    auto bytes = payload.Finish();
    return {bytes.begin() + rpc::kHeaderSize, bytes.end()};
}

// The server keeps its packet and command buffers from one call to the next:
// a smaller command after a larger one reaches the service, comes back and
// completes with its own bytes only.
// Peers that stall in each way the protocol leaves open, all at once, while a
// good client from another address is served as if they were not there.
TEST_F(ServerCallTest, HostilePeersDoNotHoldUpAGoodClient) {
    // Silent before the handshake: more than may wait for one, more than one
    // address may hold.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 40; ++i) silent.push_back(std::make_unique<RawClient>(port_));
    // Silent after it.
    RawClient idle(port_, "127.0.0.3");
    ASSERT_EQ(idle.Handshake(), 0x01);
    // Stalled in the middle of a packet.
    RawClient stalled(port_, "127.0.0.3");
    ASSERT_EQ(stalled.Handshake(), 0x01);
    auto partial = CallPacket(rpc::kGetResourceInfo, U32s({resource_}));
    partial.pop_back();
    ASSERT_TRUE(stalled.Send(partial));
    // Never reads: asks for every log line, then takes none.
    RawClient deaf(port_, "127.0.0.4");
    ASSERT_EQ(deaf.Handshake(), 0x01);
    ASSERT_TRUE(deaf.Send(rpc::EmptyPacket(rpc::kSignal, rpc::kStartLogEvents)));
    int32_t count = -1;
    ASSERT_TRUE(deaf.ListResources(&count));
    CvUIDList clients{};
    CvError error{};
    ASSERT_TRUE(CvServer_GetClientList(server_, &clients, &error));
    CvUID deafUid = CV_UID_NONE;
    for (int i = 0; i < clients.count; ++i) {
        cvpl_tcpip::CvTcpipClientInfo info{};
        ASSERT_TRUE(CvServerClient_GetInfo(server_, clients.uids[i], &info, &error));
        if (std::strcmp(info.name, "127.0.0.4") == 0) deafUid = clients.uids[i];
    }
    LogWaiter waiter;
    // More than the socket buffers and the server's queue hold: logging never
    // waits for the deaf client, which is dropped instead.
    const std::string line(1000, 'z');
    for (int i = 0; i < 40000; ++i) CvLog(CV_LOG_DEBUG, "%s", line.c_str());
    EXPECT_TRUE(waiter.WaitFor("Client " + std::to_string(deafUid) +
                               " does not read what is sent to it; disconnecting client"));

    service_.execute = [](CvCommand* command, CvError* failure) {
        command->result = 0x77;
        return CvSetNoThreadError(failure);
    };
    RawClient good(port_, "127.0.0.2");
    ASSERT_EQ(good.Handshake(), 0x01);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(good.ListResources(&count));
        EXPECT_EQ(count, 1);
        ASSERT_TRUE(good.Send(CallPacket(rpc::kResourceServiceExecute, CommandCall(resource_, serviceUid_, 9))));
        Packet answer;
        ASSERT_TRUE(good.ReadAnswer(&answer));
        ASSERT_EQ(answer.header.command, rpc::kCallResponse);
        EXPECT_EQ(answer.payload[2], 0x77);
    }
    EXPECT_TRUE(Logged("Too many connections from 127.0.0.1 (16); connection closed"));
}

TEST_F(ServerCallTest, ASmallerCommandAfterALargerOneCarriesOnlyItsOwnBytes) {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> seen;  // buffer 1 as each execute reached the service
    HeldSubmit held;
    service_.execute = [&](CvCommand* command, CvError* error) {
        auto* bytes = static_cast<uint8_t*>(command->buffers[1]);
        std::lock_guard lock(mutex);
        seen.emplace_back(bytes, bytes + command->bufferLengths[1]);
        for (uint32_t i = 0; i < command->bufferLengths[1]; ++i) bytes[i] ^= 0xFF;
        return CvSetNoThreadError(error);
    };
    HoldSubmits(held);
    auto client = Connect();
    // Larger than one read step of the server, smaller than what it keeps.
    const std::vector<uint8_t> large((3u << 20) / 2, 0x11);
    const std::vector<uint8_t> small{1, 2, 3};

    Packet answer;
    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceExecute, DataCall(resource_, serviceUid_, 1, large))));
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_EQ(answer.payload.size(), 56u + large.size());
    EXPECT_EQ(answer.payload.back(), 0xEE);

    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceExecute, DataCall(resource_, serviceUid_, 2, small))));
    ASSERT_TRUE(client->ReadAnswer(&answer));
    ASSERT_EQ(answer.header.command, rpc::kCallResponse);
    ASSERT_EQ(answer.payload.size(), 56u + small.size());
    EXPECT_EQ(std::vector<uint8_t>(answer.payload.begin() + 56, answer.payload.end()),
              (std::vector<uint8_t>{0xFE, 0xFD, 0xFC}));
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[1], small);
    }

    ASSERT_TRUE(client->Send(CallPacket(rpc::kResourceServiceSubmit, DataCall(resource_, serviceUid_, 3, small))));
    ASSERT_TRUE(client->ReadAnswer(&answer));
    EXPECT_EQ(answer.header.length, 0u);
    {
        std::lock_guard lock(held.mutex);
        ASSERT_NE(held.command, nullptr);
        ASSERT_EQ(held.command->bufferLengths[1], small.size());
        EXPECT_EQ(std::memcmp(held.command->buffers[1], small.data(), small.size()), 0);
        static_cast<uint8_t*>(held.command->buffers[1])[0] = 9;
    }
    held.complete();
    CvResourceService_NotifyCommandCompleted(resource_, serviceUid_);
    Packet signal;
    ASSERT_TRUE(ReadSignal(*client, rpc::kResourceServiceCommandComplete, &signal));
    ASSERT_EQ(signal.payload.size(), 320u + small.size());
    EXPECT_EQ(std::vector<uint8_t>(signal.payload.end() - 3, signal.payload.end()), (std::vector<uint8_t>{9, 2, 3}));
}

}  // namespace
}  // namespace tcpip_test
