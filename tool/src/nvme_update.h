// Firmware download, commit and controller reset for NVMe drives, through the
// drive's "nvme/device" service.
#pragma once

#include "drive_table.h"
#include "nvme_admin.h"
#include "update_request.h"

#include <corvane.h>

#include <cstdint>
#include <span>

namespace firmstep {

// One attempt at sending the whole image with Firmware Image Download, segments
// of at most `transferLength` bytes (a multiple of 4) pointing straight into
// `image` (a multiple of 4 long). Returns 1, or 0 with `error` set.
int NvmeImageDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image,
                      std::uint32_t transferLength, bool debug, CvError& error);

// One attempt at Firmware Commit to `slot` with `action` (each at most 7). A
// completion saying that the image was committed but needs a reset before it
// runs is a success, with that reset in `needed` (None otherwise).
int NvmeCommit(CvUID machine, AccessPath path, std::uint8_t slot, std::uint8_t action, ActivationReset& needed,
               CvError& error);

// One attempt at resetting the controller.
int NvmeReset(CvUID machine, AccessPath path, CvError& error);

// Whether the transfer length can carry an NVMe download (a whole, non-zero
// number of 32-bit words); sets `error` (code 4) and returns false otherwise.
bool CheckNvmeDownload(std::uint32_t transferLength, CvError& error);

// The number of firmware slots an NVMe drive reports in its firmware update field.
inline int NvmeSlotCount(std::uint8_t firmwareUpdate)
{
    return (firmwareUpdate >> 1) & 7;
}

// The whole NVMe update of a drive through one path: download, commit when
// activation is asked, reset when asked and all went well, then the identity
// refresh into `identity`, which is done and printed even after a failure.
// Returns 1, or 0 with `error` holding the reason of the failed step.
int NvmeUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error);

}  // namespace firmstep
