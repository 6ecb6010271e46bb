// The packet codec: header layout, limits and the payload builder and reader.
#include <gtest/gtest.h>

#include <cstring>

#include "rpc_protocol.h"

namespace {

namespace rpc = cvpl_tcpip::rpc;

TEST(RpcProtocol, EncodesTheGetResourceInfoCallAndItsResponseHeader) {
    const auto call = rpc::PacketBuilder(rpc::kCall, rpc::kGetResourceInfo).U32(7).Finish();
    const std::vector<uint8_t> expected{0x43, 0x56, 0x01, 0x06, 0, 0, 0, 0, 0x04, 0, 0, 0, 0x07, 0, 0, 0};
    EXPECT_EQ(call, expected);

    CvResourceInfo info{};
    std::strcpy(info.name, "drive");
    const auto response = rpc::PacketBuilder(rpc::kCallResponse, 0).Raw(info).Finish();
    ASSERT_EQ(response.size(), 12u + 512u);
    const std::vector<uint8_t> header(response.begin(), response.begin() + 12);
    EXPECT_EQ(header, (std::vector<uint8_t>{0x43, 0x56, 0x02, 0x00, 0, 0, 0, 0, 0x00, 0x02, 0, 0}));
    EXPECT_EQ(std::memcmp(response.data() + 12, &info, sizeof info), 0);
}

TEST(RpcProtocol, DecodesHeadersAndRejectsBadSignaturesAndOversizedPayloads) {
    rpc::PacketHeader header;
    const uint8_t good[12] = {0x43, 0x56, 0x03, 0x00, 0x2A, 0, 0, 0, 0x00, 0x01, 0, 0};
    ASSERT_EQ(rpc::DecodeHeader(good, &header), rpc::HeaderStatus::kOk);
    EXPECT_EQ(header.command, rpc::kCallError);
    EXPECT_EQ(header.ticket, 42u);
    EXPECT_EQ(header.length, 256u);

    const uint8_t badSignature[12] = {0x56, 0x43, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(rpc::DecodeHeader(badSignature, &header), rpc::HeaderStatus::kBadSignature);

    const uint8_t atLimit[12] = {0x43, 0x56, 0x01, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(rpc::DecodeHeader(atLimit, &header), rpc::HeaderStatus::kOk);
    EXPECT_EQ(header.length, rpc::kMaxPayload);
    const uint8_t overLimit[12] = {0x43, 0x56, 0x01, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x02};
    EXPECT_EQ(rpc::DecodeHeader(overLimit, &header), rpc::HeaderStatus::kOversized);
}

TEST(RpcProtocol, CarriesACommandWithTheDataOfItsNonEmptyBuffers) {
    uint8_t parameters[4] = {1, 2, 3, 4};
    uint8_t data[3] = {9, 8, 7};
    CvCommand command{};
    command.function = 0x11;
    command.tag = 0x01020304;
    command.buffers[0] = parameters;
    command.bufferLengths[0] = sizeof parameters;
    command.buffers[2] = data;
    command.bufferLengths[2] = sizeof data;
    const auto packet = rpc::PacketBuilder(rpc::kCall, rpc::kMachineServiceExecute).U32(5).CommandWithData(command).Finish();
    EXPECT_EQ(packet.size(), 12u + 60u + 7u);
    EXPECT_EQ(rpc::CommandDataLength(command), 7u);

    rpc::PayloadReader reader(packet.data() + 12, packet.size() - 12);
    uint32_t service = 0;
    CvCommand received{};
    ASSERT_TRUE(reader.U32(&service));
    ASSERT_TRUE(reader.Raw(&received));
    EXPECT_EQ(service, 5u);
    EXPECT_EQ(received.tag, 0x01020304u);
    uint8_t back0[4] = {}, back2[3] = {};
    received.buffers[0] = back0;
    received.buffers[1] = nullptr;
    received.buffers[2] = back2;
    ASSERT_TRUE(reader.CommandData(received));
    EXPECT_EQ(std::memcmp(back0, parameters, 4), 0);
    EXPECT_EQ(std::memcmp(back2, data, 3), 0);
    EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(RpcProtocol, ReaderRefusesToRunPastThePayload) {
    const uint8_t bytes[3] = {1, 2, 3};
    rpc::PayloadReader reader(bytes, sizeof bytes);
    uint32_t value = 0;
    EXPECT_FALSE(reader.U32(&value));
    EXPECT_EQ(reader.Remaining(), 3u);

    CvCommand command{};
    command.bufferLengths[1] = 0xFFFFFFFFu;
    command.bufferLengths[3] = 0xFFFFFFFFu;
    EXPECT_EQ(rpc::CommandDataLength(command), 0x1FFFFFFFEull);  // no wrapping
    EXPECT_FALSE(reader.CommandData(command));
}

TEST(RpcProtocol, NamesCallsAsTheServerReportsThem) {
    EXPECT_STREQ(rpc::CallName(rpc::kGetResourceList), "get resource list");
    EXPECT_STREQ(rpc::CallName(rpc::kResourceServiceAbort), "resource service abort command");
    EXPECT_EQ(rpc::CallName(12), nullptr);
    EXPECT_EQ(rpc::HandshakeVersion(rpc::kHandshakeRequest), 1);
}

}  // namespace
