// What one update of one drive through one access path needs: where to send,
// how often to try, the segment size, the image and the run's choices.
#pragma once

#include "drive_table.h"
#include "run_report.h"
#include "tool_options.h"

#include <corvane.h>

#include <cstdint>
#include <span>

namespace firmstep {

struct UpdateRequest {
    CvUID machine = CV_UID_NONE;
    AccessPath path{CV_UID_NONE, CV_UID_NONE};
    std::uint32_t driveNumber = 0;
    std::uint32_t attempts = kDefaultRetries;  // tries per operation ("-retries")
    std::uint32_t transferLength = 0;   // bytes per command
    std::span<std::uint8_t> image;      // empty when there is nothing to download
    std::uint32_t flags = 0;            // run flags (RunFlag)
    std::int32_t sdsbPort = 0;          // 1 addresses the second port of an ATA drive
    std::uint8_t sasMode = kDefaultSasMode;  // WRITE BUFFER mode of the download
    std::uint8_t nvmeSlot = 0;
    std::uint8_t nvmeCommitAction = 0;
    std::uint32_t pathIndex = 0;        // which of the drive's paths `path` is
    UpdateRecord* record = nullptr;     // where the steps are kept for the report; none without one

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
    // The steps of this update, with `error` as the record a failed step leaves its reason in.
    StepLog Log(const CvError& error) const { return {record, pathIndex, &error}; }
};

}  // namespace firmstep
