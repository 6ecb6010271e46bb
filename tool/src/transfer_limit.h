// The largest transfer that the library serving an access path carries in one
// command, read from the abilities of its "ata/device", "scsi/device" or
// "nvme/device" service.
#pragma once

#include "drive_table.h"

#include <corvane.h>

#include <cstdint>

namespace firmstep {

// The largest transfer of the last ability for a data protocol (identifiers 3,
// 5, 7 and 9); 0 when the count cannot be read. A failing ability query ends
// the walk with what was found so far.
std::uint32_t AtaTransferLimit(CvUID machine, AccessPath path, CvError& error);

// The largest transfer of the last data-out ability (kind 2), by the same rules.
std::uint32_t ScsiTransferLimit(CvUID machine, AccessPath path, CvError& error);

// The largest transfer of the last data-out ability of an "nvme/device"
// service, by the same rules; a service that reports no abilities (or refuses
// the count) gets NVME_DEFAULT_MAX_TRANSFER.
std::uint32_t NvmeTransferLimit(CvUID machine, AccessPath path, CvError& error);
// Any other kind of drive.
inline constexpr std::uint32_t kOtherTransferLimit = 512;

}  // namespace firmstep
