// Firmware download and activation for SCSI drives: WRITE BUFFER (0x3B) through
// the drive's "scsi/device" service.
#pragma once

#include "drive_table.h"
#include "update_request.h"

#include <corvane.h>

#include <cstdint>
#include <span>

namespace firmstep {

inline constexpr std::uint8_t kScsiDeferredMode = 0x0E;  // download and save, activate later
inline constexpr std::uint8_t kScsiActivateMode = 0x0F;
// Buffer offsets travel in 24 bits.
inline constexpr std::uint32_t kScsiMaxImageLength = 0xFFFFFF;

// One attempt at sending the whole image with WRITE BUFFER in `mode` (its low 5
// bits), segments of at most `transferLength` bytes pointing straight into
// `image`. A segment answered with UNIT ATTENTION is sent again
// (ExecuteScsiCommand) and the download goes on from it. Returns 1, or 0 with
// `error` set (the call's error, or the SCSI status and "Firmware download
// failed" when the drive refused a segment).
int ScsiDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image, std::uint32_t transferLength,
                 std::uint8_t mode, bool debug, CvError& error);

// One attempt at activating downloaded firmware: WRITE BUFFER mode 0x0F, no
// data, sent again after UNIT ATTENTION.
int ScsiActivate(CvUID machine, AccessPath path, bool debug, CvError& error);

// Whether the image and transfer length can be sent by WRITE BUFFER; sets
// `error` (code 4) and returns false when they cannot.
bool CheckScsiDownload(const char* fileName, std::uint64_t imageLength, std::uint32_t transferLength,
                       CvError& error);

// The whole SCSI update of a drive through one path: download, activation when
// asked, a 2 s pause and the identity refresh into `identity`.
int ScsiUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error);

}  // namespace firmstep
