// The remote machine bridge against a scripted server: the exact bytes of its
// calls and signals, how it reads answers and errors, and what happens to
// waiting calls and pending submits when the server goes away.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "bridge.h"
#include "fake_server.h"
#include "log_capture.h"
#include "rpc_protocol.h"
#include "submitter.h"

namespace {

namespace rpc = cvpl_tcpip::rpc;
using tcpip_bridge_test::FakeServer;
using tcpip_bridge_test::RawPacket;
using corvane_test::Submitter;

std::vector<uint8_t> Header(uint8_t command, uint8_t function, uint32_t length)
{
    rpc::PacketHeader header;
    header.command = command;
    header.function = function;
    header.length = length;
    std::vector<uint8_t> bytes(rpc::kHeaderSize);
    rpc::EncodeHeader(header, bytes.data());
    return bytes;
}

template <class Record>
void Append(std::vector<uint8_t>& bytes, const Record& record)
{
    const auto* first = reinterpret_cast<const uint8_t*>(&record);
    bytes.insert(bytes.end(), first, first + sizeof record);
}

class BridgeWireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvInitialize();
        ASSERT_EQ(1, cvpl_tcpip::RegisterBridge(&error)) << error.message;
    }
    void TearDown() override
    {
        CvError down;
        EXPECT_EQ(1, cvpl_tcpip::UnregisterBridge(&down)) << down.message;
        EXPECT_EQ(1, CvUninitialize(&down)) << down.message;
    }

    CvUID create(const std::string& url)
    {
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(1, CvMachineManager_CreateMachine(url.c_str(), &uid, &error)) << error.message;
        return uid;
    }
    // Creates a machine for the fake server and connects it.
    CvUID connected() { return connect(create(server.url())); }
    CvUID connect(CvUID uid)
    {
        auto connecting = std::async(std::launch::async, [&] {
            CvError failure;
            const int result = CvMachine_Connect(uid, nullptr, &failure);
            EXPECT_EQ(1, result) << failure.message;
        });
        EXPECT_TRUE(server.accept());
        connecting.get();
        return uid;
    }

    FakeServer server;
    CvError error{};
};

TEST_F(BridgeWireTest, UrlsThatNameNoServerAreRefused)
{
    auto bridges = std::make_unique<CvUIDList>();
    ASSERT_EQ(1, CvBridgeManager_GetBridgeList(bridges.get(), &error));
    ASSERT_EQ(1, bridges->count);
    CvBridgeInfo info{};
    ASSERT_EQ(1, CvBridge_GetInfo(bridges->uids[0], &info, &error));
    EXPECT_STREQ("TCP/IP Access Bridge", info.name);
    EXPECT_STREQ("Allows a client to access resources and services over a TCP/IP network", info.description);
    EXPECT_STREQ("cv-tcpip", info.protocol);

    struct Case {
        const char* url;
        const char* message;
    };
    const Case cases[] = {
        {"cv-tcpip://127.0.0.1:70000",
         "Host port too large (must be a 16-bit number) in url 'cv-tcpip://127.0.0.1:70000': 70000"},
        {"cv-tcpip://127.0.0.1:", "Unable to extract port from the host portion of URL 'cv-tcpip://127.0.0.1:'"},
        {"cv-tcpip://127.0.0.1:80x", "Unable to parse host port portion of URL 'cv-tcpip://127.0.0.1:80x'"},
        {"cv-tcpip:127.0.0.1", "Unable to extract the host portion of URL 'cv-tcpip:127.0.0.1'"},
    };
    for (const Case& c : cases) {
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(0, CvMachineManager_CreateMachine(c.url, &uid, &error)) << c.url;
        EXPECT_EQ(CV_ERROR_FAILED, error.code) << c.url;
        EXPECT_STREQ(c.message, error.message);
    }
}

TEST_F(BridgeWireTest, TheBridgeServesAtMost4096Machines)
{
    for (int i = 0; i < 4096; ++i) {
        CvUID uid = CV_UID_NONE;
        ASSERT_EQ(1, CvMachineManager_CreateMachine("cv-tcpip://127.0.0.1:1", &uid, &error)) << i;
    }
    CvUID uid = CV_UID_NONE;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-tcpip://127.0.0.1:1", &uid, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Machine list full, unable to fill out new machine descriptor", error.message);
}

TEST_F(BridgeWireTest, ConnectFailuresNameTheServer)
{
    std::string closedUrl;
    {
        FakeServer gone;
        closedUrl = gone.url();
    }
    const CvUID refused = create(closedUrl);
    EXPECT_EQ(0, CvMachine_Connect(refused, nullptr, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_EQ(0, std::strncmp("Unable to connect to 127.0.0.1: N/A (", error.message, 37)) << error.message;

    const CvUID incompatible = create(server.url());
    auto connecting = std::async(std::launch::async, [&] {
        CvError failure;
        EXPECT_EQ(0, CvMachine_Connect(incompatible, nullptr, &failure));
        return std::string(failure.message);
    });
    ASSERT_TRUE(server.accept(0x00));
    EXPECT_EQ("Protocol incompatibility prevents accessing '127.0.0.1'", connecting.get());
    int isConnected = -1;
    ASSERT_EQ(1, CvMachine_IsConnected(incompatible, &isConnected, &error));
    EXPECT_EQ(0, isConnected);
}

TEST_F(BridgeWireTest, CallsTravelByteForByte)
{
    const CvUID uid = connected();
    EXPECT_EQ(0, CvMachine_Connect(uid, nullptr, &error));
    EXPECT_EQ("Machine " + std::to_string(uid) + " is already connected", error.message);

    // Get resource info for resource 7, answered with a 512-byte record.
    CvResourceInfo info{};
    auto gettingInfo = std::async(std::launch::async, [&] {
        CvError failure;
        return CvResourceProxy_GetInfo(uid, 7, &info, &failure);
    });
    RawPacket call;
    ASSERT_TRUE(server.read(&call));
    EXPECT_EQ((std::vector<uint8_t>{0x43, 0x56, 0x01, 0x06, 0, 0, 0, 0, 0x04, 0, 0, 0, 0x07, 0, 0, 0}), call.bytes);
    std::vector<uint8_t> answer = Header(rpc::kCallResponse, 0, 512);
    EXPECT_EQ((std::vector<uint8_t>{0x43, 0x56, 0x02, 0, 0, 0, 0, 0, 0x00, 0x02, 0, 0}), answer);
    CvResourceInfo remote{};
    std::strcpy(remote.name, "disk:7");
    Append(answer, remote);
    ASSERT_TRUE(server.send(answer));
    ASSERT_EQ(1, gettingInfo.get());
    EXPECT_STREQ("disk:7", info.name);

    // A call error reaches the caller with the server's code and message.
    auto listing = std::async(std::launch::async, [&] {
        auto list = std::make_unique<CvUIDList>();
        CvError failure;
        EXPECT_EQ(0, CvMachine_GetResourceList(uid, list.get(), &failure));
        return failure;
    });
    ASSERT_TRUE(server.read(&call));
    EXPECT_EQ(Header(rpc::kCall, rpc::kGetResourceList, 0), call.bytes);
    CvError refusal{};
    CvSetError(&refusal, CV_ERROR_NOT_FOUND, "Resource manager refuses");
    answer = Header(rpc::kCallError, 0, 256);
    Append(answer, refusal);
    ASSERT_TRUE(server.send(answer));
    const CvError listed = listing.get();
    EXPECT_EQ(CV_ERROR_NOT_FOUND, listed.code);
    EXPECT_STREQ("Resource manager refuses", listed.message);

    // An execute carries the passed buffers only, without addresses, and gets
    // back the result byte and the buffers' contents.
    uint8_t parameters[4] = {1, 2, 3, 4};
    uint8_t data[8] = {};
    CvCommand command{};
    command.function = 1;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = parameters;
    command.bufferLengths[0] = sizeof parameters;
    command.buffers[1] = data;
    command.bufferLengths[1] = sizeof data;
    command.bufferLengths[2] = 5;  // no address: not passed
    auto executing = std::async(std::launch::async, [&] {
        CvError failure;
        return CvResourceServiceProxy_ExecuteCommand(uid, 7, 9, &command, &failure);
    });
    ASSERT_TRUE(server.read(&call));
    ASSERT_EQ(64u + 12u, call.payload.size());
    rpc::PayloadReader reader(call.payload.data(), call.payload.size());
    uint32_t resource = 0;
    uint32_t service = 0;
    CvCommand wire{};
    reader.U32(&resource);
    reader.U32(&service);
    reader.Raw(&wire);
    EXPECT_EQ(7u, resource);
    EXPECT_EQ(9u, service);
    for (void* address : wire.buffers) EXPECT_EQ(nullptr, address);
    EXPECT_EQ((std::vector<uint32_t>{4, 8, 0, 0}), std::vector<uint32_t>(wire.bufferLengths, wire.bufferLengths + 4));
    EXPECT_EQ(0, std::memcmp(parameters, reader.Cursor(), 4));

    wire.result = 0x5A;
    answer = Header(rpc::kCallResponse, 0, 56 + 12);
    Append(answer, wire);
    const uint8_t after[12] = {9, 9, 9, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    answer.insert(answer.end(), after, after + sizeof after);
    ASSERT_TRUE(server.send(answer));
    ASSERT_EQ(1, executing.get());
    EXPECT_EQ(0x5A, command.result);
    EXPECT_EQ(0, std::memcmp(after, parameters, 4));
    EXPECT_EQ(0, std::memcmp(after + 4, data, 8));

    // An answer of the wrong size fails the call.
    CvServiceInfo serviceInfo{};
    auto gettingServiceInfo = std::async(std::launch::async, [&] {
        CvError failure;
        EXPECT_EQ(0, CvResourceServiceProxy_GetInfo(uid, 7, 9, &serviceInfo, &failure));
        return failure;
    });
    ASSERT_TRUE(server.read(&call));
    answer = Header(rpc::kCallResponse, 0, 10);
    answer.resize(answer.size() + 10, 0x41);
    ASSERT_TRUE(server.send(answer));
    const CvError wrongSize = gettingServiceInfo.get();
    EXPECT_EQ(CV_ERROR_INTERNAL, wrongSize.code);
    EXPECT_STREQ(
        "Returned payload length for RPC function 8 does not match expected payload length: 10 bytes vs 64 "
        "bytes",
        wrongSize.message);
}

TEST_F(BridgeWireTest, ListenersSwitchEventsOnAndOffWhileConnected)
{
    const CvUID uid = create(server.url());
    CvHotplugListener events{};
    CvLogListener logs{};
    CvHotplugListener* previousEvents = &events;
    ASSERT_EQ(1, CvMachine_SetEventListener(uid, &events, &previousEvents, &error));
    EXPECT_EQ(nullptr, previousEvents);
    CvLogListener* previousLogs = nullptr;
    ASSERT_EQ(1, CvMachine_SetLoggingListener(uid, &logs, &previousLogs, &error));

    // Set while disconnected: both start signals follow the handshake, log events first.
    connect(uid);
    RawPacket signal;
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kSignal, rpc::kStartLogEvents, 0), signal.bytes);
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kSignal, rpc::kStartHotplugEvents, 0), signal.bytes);

    ASSERT_EQ(1, CvMachine_SetEventListener(uid, nullptr, &previousEvents, &error));
    EXPECT_EQ(&events, previousEvents);
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kSignal, rpc::kStopHotplugEvents, 0), signal.bytes);
    ASSERT_EQ(1, CvMachine_SetLoggingListener(uid, nullptr, &previousLogs, &error));
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kSignal, rpc::kStopLogEvents, 0), signal.bytes);
    ASSERT_EQ(1, CvMachine_SetEventListener(uid, &events, &previousEvents, &error));
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kSignal, rpc::kStartHotplugEvents, 0), signal.bytes);

    // Disconnecting says goodbye.
    ASSERT_EQ(1, CvMachine_Disconnect(uid, &error));
    ASSERT_TRUE(server.read(&signal));
    EXPECT_EQ(Header(rpc::kDisconnect, 0, 0), signal.bytes);
}

TEST_F(BridgeWireTest, CompletionSignalsAreMatchedAndChecked)
{
    corvane_test::LogCapture log;
    const CvUID uid = connected();
    uint8_t buffer[4] = {};
    CvCommand command{};
    command.tag = 5;
    command.buffers[1] = buffer;
    command.bufferLengths[1] = sizeof buffer;
    Submitter submitter;
    auto submitting = std::async(std::launch::async, [&] {
        CvError failure;
        return CvMachineServiceProxy_SubmitCommand(uid, 9, &command, &submitter.completion, &failure);
    });
    RawPacket call;
    ASSERT_TRUE(server.read(&call));
    EXPECT_EQ(rpc::kMachineServiceSubmit, call.header.function);
    EXPECT_EQ(60u + sizeof buffer, call.header.length);
    ASSERT_TRUE(server.send(Header(rpc::kCallResponse, 0, 0)));
    ASSERT_EQ(1, submitting.get());

    // A completion for a tag nobody submitted is only logged.
    CvCommand completed{};
    completed.tag = 99;
    CvError outcome{};
    std::vector<uint8_t> signal = Header(rpc::kSignal, rpc::kMachineServiceCommandComplete, 316);
    const uint32_t service = 9;
    Append(signal, service);
    Append(signal, completed);
    Append(signal, outcome);
    ASSERT_TRUE(server.send(signal));

    // One whose data block does not fit the submitted buffers fails the command.
    completed.tag = 5;
    completed.result = 0x33;
    signal = Header(rpc::kSignal, rpc::kMachineServiceCommandComplete, 316 + 3);
    Append(signal, service);
    Append(signal, completed);
    Append(signal, outcome);
    signal.insert(signal.end(), {1, 2, 3});
    ASSERT_TRUE(server.send(signal));
    const CvError failed = submitter.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_INTERNAL, failed.code);
    EXPECT_STREQ("Invalid length for machine service command complete signal: 319 bytes", failed.message);
    EXPECT_EQ(0, command.result);
    const auto lines = log.messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Could not find async command for machine service 9, tag 99 while processing machine service "
                        "command complete signal"),
              lines.end());
}

TEST_F(BridgeWireTest, ServerClosingAbortsEveryWaitingCallAndPendingSubmit)
{
    corvane_test::LogCapture log;
    const CvUID uid = connected();

    uint8_t buffer[16] = {};
    CvCommand submitted{};
    submitted.tag = 3;
    submitted.buffers[0] = buffer;
    submitted.bufferLengths[0] = sizeof buffer;
    Submitter submitter;
    auto submitting = std::async(std::launch::async, [&] {
        CvError failure;
        return CvResourceServiceProxy_SubmitCommand(uid, 7, 9, &submitted, &submitter.completion, &failure);
    });
    RawPacket call;
    ASSERT_TRUE(server.read(&call));
    EXPECT_EQ(rpc::kResourceServiceSubmit, call.header.function);
    EXPECT_EQ(64u + sizeof buffer, call.header.length);
    ASSERT_TRUE(server.send(Header(rpc::kCallResponse, 0, 0)));
    ASSERT_EQ(1, submitting.get());

    // The same tag again, while the first is pending, never leaves this process.
    CvCommand duplicate = submitted;
    Submitter second;
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(uid, 7, 9, &duplicate, &second.completion, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Command tag is a duplicate: 3", error.message);

    std::vector<std::future<CvError>> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(std::async(std::launch::async, [&] {
            auto list = std::make_unique<CvUIDList>();
            CvError failure;
            EXPECT_EQ(0, CvMachine_GetResourceList(uid, list.get(), &failure));
            return failure;
        }));
        ASSERT_TRUE(server.read(&call));
    }
    server.closeClient();

    const char* aborted = "RPC request is aborted because the server disconnected without warning";
    for (auto& pendingCall : waiting) {
        const CvError failure = pendingCall.get();
        EXPECT_EQ(CV_ERROR_FAILED, failure.code);
        EXPECT_STREQ(aborted, failure.message);
    }
    const CvError completion = submitter.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_FAILED, completion.code);
    EXPECT_STREQ(aborted, completion.message);

    int isConnected = -1;
    ASSERT_EQ(1, CvMachine_IsConnected(uid, &isConnected, &error));
    EXPECT_EQ(0, isConnected);
    auto list = std::make_unique<CvUIDList>();
    EXPECT_EQ(0, CvMachine_GetResourceList(uid, list.get(), &error));
    EXPECT_STREQ("The RPC service is disconnected", error.message);
    const auto lines = log.messages();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "RPC: Server disconnected without warning, shutting down RPC service"),
        lines.end());
}

// The bridge builds calls and receives answers in buffers it keeps between
// calls: a small execute after a large one carries only its own bytes, an
// answer shorter than it expects is refused rather than made up from what a
// larger answer left behind, and a good answer fills exactly its buffer.
TEST_F(BridgeWireTest, ASmallExecuteAfterALargeOneCarriesAndTakesOnlyItsOwnBytes)
{
    const CvUID uid = connected();
    auto execute = [&](std::vector<uint8_t>& data, uint32_t length) {
        return std::async(std::launch::async, [&data, length, uid] {
            CvCommand command{};
            command.function = 1;
            command.tag = CV_COMMAND_TAG_NONE;
            command.buffers[1] = data.data();
            command.bufferLengths[1] = length;
            CvError failure{};
            CvResourceServiceProxy_ExecuteCommand(uid, 7, 9, &command, &failure);
            return failure;
        });
    };
    // Answers with the call's command and `length` bytes of `fill`.
    auto answer = [&](const RawPacket& call, uint32_t length, uint8_t fill) {
        CvCommand wire{};
        std::memcpy(&wire, call.payload.data() + 8, sizeof wire);
        std::vector<uint8_t> bytes = Header(rpc::kCallResponse, 0, 56 + length);
        Append(bytes, wire);
        bytes.resize(bytes.size() + length, fill);
        return server.send(bytes);
    };

    std::vector<uint8_t> large(256 * 1024, 0xAB);
    auto executing = execute(large, static_cast<uint32_t>(large.size()));
    RawPacket call;
    ASSERT_TRUE(server.read(&call));
    ASSERT_EQ(64u + large.size(), call.payload.size());
    ASSERT_TRUE(answer(call, static_cast<uint32_t>(large.size()), 0xCD));
    EXPECT_EQ(CV_ERROR_NONE, executing.get().code);
    EXPECT_EQ(0xCD, large.back());

    // Only the first 16 of these 32 bytes are passed.
    std::vector<uint8_t> small(32, 0x11);
    executing = execute(small, 16);
    ASSERT_TRUE(server.read(&call));
    ASSERT_EQ(64u + 16u, call.payload.size());
    EXPECT_EQ(std::vector<uint8_t>(16, 0x11), std::vector<uint8_t>(call.payload.begin() + 64, call.payload.end()));
    ASSERT_TRUE(answer(call, 8, 0x22));
    const CvError shortAnswer = executing.get();
    EXPECT_EQ(CV_ERROR_INTERNAL, shortAnswer.code);
    EXPECT_STREQ("Returned payload length for RPC function 9 does not match expected payload length: 64 bytes vs 72 "
                 "bytes",
                 shortAnswer.message);
    EXPECT_EQ(std::vector<uint8_t>(32, 0x11), small);

    executing = execute(small, 16);
    ASSERT_TRUE(server.read(&call));
    ASSERT_TRUE(answer(call, 16, 0x33));
    EXPECT_EQ(CV_ERROR_NONE, executing.get().code);
    std::vector<uint8_t> expected(16, 0x33);
    expected.resize(32, 0x11);
    EXPECT_EQ(expected, small);
}

}  // namespace
