// How the simulated kernel answers one SG_IO request on a disk node.
#pragma once

#include "libata_sense.h"
#include "simdrive/drive.h"

struct sg_io_hdr;

namespace simdrive {

// Fills the request's status, sense and residue as Linux does: a libata disk
// (ATA drive) takes SAT ATA PASS-THROUGH (12) and (16) and a translated INQUIRY and
// answers as `port` says, a SCSI disk takes any CDB from initiator path `nexus`,
// an NVMe node has no SG_IO. 0, or -1 with errno.
int answerSgIo(SimDrive& drive, sg_io_hdr& request, const LibataPort& port = {}, uint32_t nexus = 0);

}  // namespace simdrive
