// Encoding and decoding of the cv-tcpip packet header and payloads.
#include "rpc_protocol.h"

#include <utility>

namespace cvpl_tcpip::rpc {

namespace {

void PutU32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetU32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

constexpr const char* kCallNames[kCallCount] = {
    "get resource list",
    "get machine service list",
    "machine service get info",
    "machine service execute command",
    "machine service submit command",
    "machine service abort command",
    "get resource info",
    "get resource service list",
    "resource service get info",
    "resource service execute command",
    "resource service submit command",
    "resource service abort command",
};

}  // namespace

void EncodeHeader(const PacketHeader& header, uint8_t out[kHeaderSize]) {
    out[0] = kSignature0;
    out[1] = kSignature1;
    out[2] = header.command;
    out[3] = header.function;
    PutU32(out + 4, header.ticket);
    PutU32(out + 8, header.length);
}

HeaderStatus DecodeHeader(const uint8_t in[kHeaderSize], PacketHeader* header) {
    header->command = in[2];
    header->function = in[3];
    header->ticket = GetU32(in + 4);
    header->length = GetU32(in + 8);
    if (in[0] != kSignature0 || in[1] != kSignature1) return HeaderStatus::kBadSignature;
    if (header->length > kMaxPayload) return HeaderStatus::kOversized;
    return HeaderStatus::kOk;
}

const char* CallName(uint8_t call) { return call < kCallCount ? kCallNames[call] : nullptr; }

uint64_t CommandDataLength(const CvCommand& command) {
    uint64_t sum = 0;
    for (uint32_t length : command.bufferLengths) sum += length;
    return sum;
}

PacketBuilder::PacketBuilder(uint8_t command, uint8_t function, uint32_t ticket)
    : PacketBuilder({}, 0, command, function, ticket) {}

PacketBuilder::PacketBuilder(std::vector<uint8_t>&& storage, size_t payloadSize, uint8_t command, uint8_t function,
                             uint32_t ticket)
    : bytes_(std::move(storage)) {
    bytes_.clear();
    bytes_.reserve(kHeaderSize + payloadSize);
    bytes_.resize(kHeaderSize);
    PacketHeader header;
    header.command = command;
    header.function = function;
    header.ticket = ticket;
    EncodeHeader(header, bytes_.data());
}

PacketBuilder& PacketBuilder::U8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

PacketBuilder& PacketBuilder::U32(uint32_t value) {
    uint8_t encoded[4];
    PutU32(encoded, value);
    return Bytes(encoded, sizeof encoded);
}

PacketBuilder& PacketBuilder::Bytes(const void* data, size_t length) {
    if (length == 0) return *this;
    const auto* first = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), first, first + length);
    return *this;
}

PacketBuilder& PacketBuilder::CommandWithData(const CvCommand& command) {
    Raw(command);
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
        if (command.bufferLengths[i] != 0 && command.buffers[i] != nullptr)
            Bytes(command.buffers[i], command.bufferLengths[i]);
    }
    return *this;
}

std::vector<uint8_t> PacketBuilder::Finish(size_t trailing) {
    PutU32(bytes_.data() + 8, static_cast<uint32_t>(PayloadSize() + trailing));
    return std::move(bytes_);
}

bool PayloadReader::U32(uint32_t* value) {
    if (remaining_ < 4) return false;
    *value = GetU32(data_);
    data_ += 4;
    remaining_ -= 4;
    return true;
}

bool PayloadReader::Bytes(void* out, size_t length) {
    if (remaining_ < length) return false;
    if (length != 0) std::memcpy(out, data_, length);
    data_ += length;
    remaining_ -= length;
    return true;
}

bool PayloadReader::CommandData(CvCommand& command) {
    if (CommandDataLength(command) > remaining_) return false;
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
        const uint32_t length = command.bufferLengths[i];
        if (length == 0) continue;
        if (command.buffers[i] != nullptr) {
            Bytes(command.buffers[i], length);
        } else {
            data_ += length;
            remaining_ -= length;
        }
    }
    return true;
}

std::vector<uint8_t> EmptyPacket(uint8_t command, uint8_t function, uint32_t ticket) {
    return PacketBuilder(command, function, ticket).Finish();
}

}  // namespace cvpl_tcpip::rpc
