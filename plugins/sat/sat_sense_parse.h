// The ATA output registers from the 22 bytes a bridge returns for a taskfile
// read: a bare ATA Status Return descriptor, descriptor-format sense holding
// one at byte 8, or fixed-format sense in the bridge's layout.
// Every byte comes from the bridge.
#pragma once

#include <corvane.h>

#include <cstdint>
#include <span>

#include "device/ata_device.h"
#include "sat_codec/sat_version.h"

namespace sat_plugin {

// 1 with the registers in `out` (the (15:8) ones 0 for fixed format), or 0
// with code 2 or 3 and the reason.
int parseSense(std::span<const uint8_t> sense, sat::FixedLayout layout, AtaTaskfileBlock& out, CvError* error);

// The registers came back: at least one of status, error, device, count, LBA
// low and LBA mid is not 0.
bool registersCameBack(const AtaTaskfileBlock& registers);

}  // namespace sat_plugin
