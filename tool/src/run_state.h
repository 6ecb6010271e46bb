// Process-wide state of a run that the parser sets and every later step reads.
#pragma once

#include "drive_table.h"

#include <cstdint>

namespace firmstep {

// One bit per run flag.
enum RunFlag : std::uint32_t {
    kFlagBatchMode = 1u << 0,
    kFlagDeviceList = 1u << 1,      // "-dev" with a list that does not select nothing
    kFlagDebug = 1u << 2,
    kFlagListOnly = 1u << 3,
    kFlagModelMode = 1u << 4,
    kFlagFirmwareFile = 1u << 5,
    kFlagDeferredDownload = 1u << 6,  // "-flags" bit 0
    kFlagActivate = 1u << 7,          // "-flags" bit 1
    kFlagNvmeReset = 1u << 8,         // "-flags" bit 2
    kFlagSasModeGiven = 1u << 9,
    kFlagConfigFileGiven = 1u << 10,
    kFlagDma = 1u << 11,
    kFlagNvmeSlotGiven = 1u << 12,
    kFlagNvmeCommitActionGiven = 1u << 13,
};

struct RunState {
    std::uint32_t flags = 0;
    std::int32_t sdsbPort = 0;               // only 1 changes behaviour
    // Set when a selection text named drives: only marked rows are listed and
    // acted on from then on.
    bool explicitSelection = false;
    // The drives found; "-dev" marks rows before discovery fills them.
    DriveTable drives{};

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
};

// Names what the run does, for messages: "downloaded and activated",
// "activated" or "downloaded".
const char* OperationWord(std::uint32_t flags);

}  // namespace firmstep
