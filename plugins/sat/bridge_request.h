// One SCSI command to a USB bridge through SG_IO, shared by the SAT and ATACB
// plug-ins: the command block, the data phase, the time-out in whole seconds
// and the SCSI status byte that comes back, with the kernel's verdict on
// whether the command reached the bridge at all.
#pragma once

#include <cstdint>
#include <span>

#include <corvane.h>

namespace usb_bridge {

enum class Direction : uint8_t { None, In, Out };

struct ScsiRequest {
    std::span<const uint8_t> cdb;
    Direction direction = Direction::None;
    uint8_t* data = nullptr;  // read into (In) or sent from (Out)
    uint32_t length = 0;
    uint64_t timeoutNs = 0;   // applied in whole seconds
    std::span<uint8_t> sense; // room for automatic sense; may be empty
};

struct ScsiOutcome {
    // 0 when the command reached the bridge and came back with a SCSI status
    // (CHECK CONDITION included); otherwise the errno value of the failure
    // (the kernel's refusal, or a transport failure: passthrough::timedSgIo).
    int systemError = 0;
    uint8_t status = 0;
    uint32_t transferred = 0;  // data bytes moved
    uint32_t senseLength = 0;  // sense bytes written
    uint64_t durationNs = 0;
};

inline constexpr uint8_t kScsiGood = 0x00;
inline constexpr uint8_t kScsiCheckCondition = 0x02;
inline constexpr uint64_t kFixedTimeoutNs = 60000000000ull;

ScsiOutcome sendScsi(int fd, const ScsiRequest& request);

// A data-in request for `data` with the fixed 60-second time-out.
ScsiRequest readRequest(std::span<const uint8_t> cdb, std::span<uint8_t> data, std::span<uint8_t> sense = {});

// The sense of a command that a bridge refused itself (ILLEGAL REQUEST
// without an ATA error in it): no drive saw the command, and the registers a
// later read returns would be an earlier command's.
bool refusedByBridge(std::span<const uint8_t> sense);

// "<what> refused by the bridge (sense key ..., ASC/ASCQ ...)", code 2.
int bridgeRefusal(std::span<const uint8_t> sense, const char* what, CvError* error);

}  // namespace usb_bridge
