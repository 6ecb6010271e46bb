// Faults a simulated drive can be told to show. All counts start again when a
// new plan is set.
#pragma once

#include <cstdint>

namespace simdrive {

struct FaultPlan {
    // Refuse segment number k (1 = the first segment) of a download; once only
    // unless failSegmentAlways. 0: no segment fault.
    uint32_t failSegment = 0;
    bool failSegmentAlways = false;
    // Refuse the first segment of the first n downloads (a download starts with
    // the segment at offset 0).
    uint32_t failDownloadAttempts = 0;
    // Refuse the first n activation commands (ATA 0Fh, WRITE BUFFER mode 0Fh,
    // NVMe Firmware Commit).
    uint32_t failActivateAttempts = 0;
    // scsi: after every WRITE BUFFER that downloads and activates microcode
    // (modes 05h and 07h, each segment) or activates it (mode 0Fh), tell the
    // sending nexus too: its next command (INQUIRY, REPORT LUNS and REQUEST
    // SENSE aside) is answered with UNIT ATTENTION, MICROCODE HAS BEEN CHANGED
    // WITHOUT RESET, and not performed. Drives that tell every
    // initiator, and some targets per segment, behave this way.
    bool unitAttentionToSender = false;
    // Refuse DOWNLOAD MICROCODE DMA although IDENTIFY DEVICE reports it.
    bool refuseDma = false;
    // Added to every command the drive processes.
    uint32_t delayMs = 0;
    // The drive has been pulled: no command reaches it.
    bool gone = false;
};

}  // namespace simdrive
