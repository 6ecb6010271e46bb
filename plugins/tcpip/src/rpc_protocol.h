// The cv-tcpip wire protocol shared by the remote machine bridge and the remote
// access server: handshake bytes, the 12-byte packet header, command, call and
// signal numbers, payload sizes, and builders/readers for payloads.
//
// Framework records (CvUIDList, CvError, CvServiceInfo, CvResourceInfo, CvCommand)
// travel in their in-memory layout; integers are little-endian. Both ends must
// therefore share byte order and record layouts.
#pragma once

#include <corvane.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cvpl_tcpip::rpc {

static_assert(std::endian::native == std::endian::little, "records travel in little-endian memory layout");

// ---- Ports ------------------------------------------------------------------

inline constexpr uint16_t kDefaultServerPort = 15585;
inline constexpr uint16_t kDefaultBroadcastPort = 15586;
inline constexpr uint16_t kDefaultRegistryPort = 15587;

// ---- Handshake --------------------------------------------------------------

inline constexpr uint16_t kProtocolVersion = 1;
// The client's two bytes: the version, big-endian.
inline constexpr uint8_t kHandshakeRequest[2] = {0x00, 0x01};
inline constexpr uint8_t kHandshakeAccepted = 0x01;
inline constexpr uint8_t kHandshakeRefused = 0x00;

inline uint16_t HandshakeVersion(const uint8_t bytes[2]) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

// ---- Header -----------------------------------------------------------------

inline constexpr size_t kHeaderSize = 12;
inline constexpr uint8_t kSignature0 = 0x43;  // 'C'
inline constexpr uint8_t kSignature1 = 0x56;  // 'V'
inline constexpr uint32_t kMaxPayload = 0x2000000;  // 32 MiB

enum Command : uint8_t {
    kDisconnect = 0,
    kCall = 1,
    kCallResponse = 2,
    kCallError = 3,
    kSignal = 4,
};

enum Call : uint8_t {
    kGetResourceList = 0,
    kGetMachineServiceList = 1,
    kMachineServiceGetInfo = 2,
    kMachineServiceExecute = 3,
    kMachineServiceSubmit = 4,
    kMachineServiceAbort = 5,
    kGetResourceInfo = 6,
    kGetResourceServiceList = 7,
    kResourceServiceGetInfo = 8,
    kResourceServiceExecute = 9,
    kResourceServiceSubmit = 10,
    kResourceServiceAbort = 11,
};
inline constexpr uint8_t kCallCount = 12;

enum Signal : uint8_t {
    // client -> server, empty payload
    kStartHotplugEvents = 0,
    kStopHotplugEvents = 1,
    kStartLogEvents = 2,
    kStopLogEvents = 3,
    // server -> client
    kMachineServiceAdded = 10,
    kMachineServiceRemoved = 11,
    kResourceAdded = 12,
    kResourceRemoved = 13,
    kResourceServiceAdded = 14,
    kResourceServiceRemoved = 15,
    kLog = 20,
    kMachineServiceCommandComplete = 30,
    kResourceServiceCommandComplete = 31,
};

struct PacketHeader {
    uint8_t command = 0;
    uint8_t function = 0;
    uint32_t ticket = 0;
    uint32_t length = 0;  // payload bytes that follow
};

enum class HeaderStatus { kOk, kBadSignature, kOversized };

void EncodeHeader(const PacketHeader& header, uint8_t out[kHeaderSize]);
// Fills *header even when the status is not kOk (the length of an oversized one).
HeaderStatus DecodeHeader(const uint8_t in[kHeaderSize], PacketHeader* header);

// ---- Record sizes on the wire -----------------------------------------------

inline constexpr uint32_t kUIDSize = 4;
inline constexpr uint32_t kUIDListSize = sizeof(CvUIDList);          // 16388
inline constexpr uint32_t kServiceInfoSize = sizeof(CvServiceInfo);  // 64
inline constexpr uint32_t kResourceInfoSize = sizeof(CvResourceInfo);  // 512
inline constexpr uint32_t kCommandSize = sizeof(CvCommand);          // 56
inline constexpr uint32_t kErrorSize = sizeof(CvError);              // 256
static_assert(kUIDListSize == 16388 && kServiceInfoSize == 64 && kResourceInfoSize == 512 &&
              kCommandSize == 56 && kErrorSize == 256);

// Fixed request lengths; the command calls are at least their prefix plus the data block.
inline constexpr uint32_t kMachineCommandPrefix = kUIDSize + kCommandSize;       // 60
inline constexpr uint32_t kResourceCommandPrefix = 2 * kUIDSize + kCommandSize;  // 64
inline constexpr uint32_t kMachineAbortRequest = 2 * kUIDSize;                   // 8
inline constexpr uint32_t kResourceAbortRequest = 3 * kUIDSize;                  // 12

// Server signal payload sizes.
inline constexpr uint32_t kMachineServiceAddedSize = kUIDSize + kServiceInfoSize;        // 68
inline constexpr uint32_t kResourceAddedSize = kUIDSize + kResourceInfoSize;             // 516
inline constexpr uint32_t kResourceServiceAddedSize = 2 * kUIDSize + kServiceInfoSize;   // 72
inline constexpr uint32_t kLogTextMax = CV_LOG_MESSAGE_MAX;                              // 1023 characters
inline constexpr uint32_t kLogMinSize = 2;                                               // level, NUL
inline constexpr uint32_t kLogMaxSize = 1 + kLogTextMax + 1;                             // 1025
inline constexpr uint32_t kMachineCompletePrefix = kUIDSize + kCommandSize + kErrorSize;       // 316
inline constexpr uint32_t kResourceCompletePrefix = 2 * kUIDSize + kCommandSize + kErrorSize;  // 320

// The name a call goes by in messages ("get resource list", ...); null if unknown.
const char* CallName(uint8_t call);

// Sum of a command's four buffer lengths, without wrapping.
uint64_t CommandDataLength(const CvCommand& command);

// ---- Payload building and reading ------------------------------------------

// Builds one whole packet (header and payload) in a single buffer, so that it can
// be written with one send-all and never interleaves with another packet.
class PacketBuilder {
public:
    PacketBuilder(uint8_t command, uint8_t function, uint32_t ticket = 0);
    // Builds into `storage`, whose contents are discarded and whose capacity is
    // reused; `payloadSize` is reserved up front so the packet grows at most once.
    PacketBuilder(std::vector<uint8_t>&& storage, size_t payloadSize, uint8_t command, uint8_t function,
                  uint32_t ticket = 0);

    PacketBuilder& U8(uint8_t value);
    PacketBuilder& U32(uint32_t value);
    PacketBuilder& Bytes(const void* data, size_t length);
    template <typename Record>
    PacketBuilder& Raw(const Record& record) {
        return Bytes(&record, sizeof record);
    }
    // A command record followed by the contents of every buffer with a non-zero length.
    PacketBuilder& CommandWithData(const CvCommand& command);

    size_t PayloadSize() const { return bytes_.size() - kHeaderSize; }
    // Writes the payload length into the header and hands over the packet.
    // `trailing` bytes that the sender writes straight after it, from where they
    // are, count towards the payload.
    std::vector<uint8_t> Finish(size_t trailing = 0);

private:
    std::vector<uint8_t> bytes_;
};

// Reads a payload front to back; every read fails (false, nothing consumed) when
// fewer bytes remain than asked for.
class PayloadReader {
public:
    PayloadReader(const uint8_t* data, size_t length) : data_(data), remaining_(length) {}

    bool U8(uint8_t* value) { return Bytes(value, 1); }
    bool U32(uint32_t* value);
    bool Bytes(void* out, size_t length);
    template <typename Record>
    bool Raw(Record* record) {
        return Bytes(record, sizeof *record);
    }
    // Fills every buffer of command with a non-zero length from the data block, in order.
    bool CommandData(CvCommand& command);
    size_t Remaining() const { return remaining_; }
    const uint8_t* Cursor() const { return data_; }

private:
    const uint8_t* data_;
    size_t remaining_;
};

// An empty packet: disconnect (all zero but the signature) or a payload-less signal.
std::vector<uint8_t> EmptyPacket(uint8_t command, uint8_t function = 0, uint32_t ticket = 0);

}  // namespace cvpl_tcpip::rpc
