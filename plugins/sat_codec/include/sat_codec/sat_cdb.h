// The ATA PASS-THROUGH (12) and (16) command blocks of the SCSI/ATA Translation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sat {

// The registers a command writes; the (15:8) bytes travel only in a 16-byte
// block with EXTEND set.
struct Taskfile {
    uint8_t features = 0, featuresExp = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t command = 0;
};

// The PROTOCOL field.
enum class Protocol : uint8_t {
    HardReset = 0,
    SoftReset = 1,
    NonData = 3,
    PioIn = 4,
    PioOut = 5,
    Dma = 6,
    UdmaIn = 10,
    UdmaOut = 11,
    ReturnResponse = 15,
};

enum class Transfer : uint8_t { None, FromDevice, ToDevice };

struct Command {
    Taskfile taskfile;
    Protocol protocol = Protocol::NonData;
    Transfer transfer = Transfer::None;
    bool extend = false;          // 48-bit (16-byte block only)
    bool checkCondition = false;  // CK_COND: the registers come back even when the command succeeds
};

inline constexpr uint8_t kOpAtaPassThrough12 = 0xA1;
inline constexpr uint8_t kOpAtaPassThrough16 = 0x85;
inline constexpr std::size_t kCdb12Length = 12;
inline constexpr std::size_t kCdb16Length = 16;

// A command that moves data gives its length in the count register, in
// 512-byte blocks (T_LENGTH 2, BYT_BLOK 1), with T_DIR for data from the device.
std::array<uint8_t, kCdb16Length> buildCdb16(const Command& command);
// The 12-byte block carries no (15:8) bytes and no EXTEND.
std::array<uint8_t, kCdb12Length> buildCdb12(const Command& command);

}  // namespace sat
