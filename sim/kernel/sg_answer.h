// How the simulated kernel answers one SG_IO request on a disk node.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "libata_sense.h"
#include "simdrive/ata_bus.h"
#include "simdrive/drive.h"

struct sg_io_hdr;

namespace simdrive {

struct UsbBridgeState;

// Fills the request's status, sense and residue as Linux does: a libata disk
// (ATA drive) takes SAT ATA PASS-THROUGH (12) and (16) and a translated INQUIRY and
// answers as `port` says, an ATA drive behind a USB bridge answers as the
// bridge does, a SCSI disk takes any CDB, an NVMe node has no SG_IO.
// 0, or -1 with errno.
int answerSgIo(SimDrive& drive, sg_io_hdr& request, const LibataPort& port = {}, UsbBridgeState* bridge = nullptr);

// What the answers of libata and of the USB bridges share.
// CHECK CONDITION with this sense, as far as the request has room for it.
void checkCondition(sg_io_hdr& request, std::span<const uint8_t> sense);
// CHECK CONDITION with fixed-format sense of a key and ASC/ASCQ, nothing moved.
void refuse(sg_io_hdr& request, uint8_t key, uint16_t ascq);
std::span<uint8_t> dataOf(const sg_io_hdr& request);
// The registers of an ATA PASS-THROUGH (12) or (16) block.
AtaInputs passThroughRegisters(const uint8_t* cdb, bool twelve, bool extend);
// The data phase of a PROTOCOL value that carries a command; nothing for others.
std::optional<AtaDataPhase> passThroughPhase(uint8_t protocol, bool fromDevice);

}  // namespace simdrive
