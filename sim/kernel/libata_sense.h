// The sense data Linux libata writes for an ATA PASS-THROUGH command: with
// CK_COND and no error, descriptor-format sense RECOVERED ERROR 00h/1Dh with
// the ATA Status Return descriptor; after an ATA error, the error mapped to a
// sense key and ASC/ASCQ, in descriptor format when the device's D_SENSE is
// set and in fixed format otherwise (the default), with the registers where
// the kernel puts them.
#pragma once

#include <cstdint>
#include <vector>

#include "simdrive/ata_bus.h"

namespace simdrive {

// How libata behaves on one disk.
struct LibataPort {
    // Where fixed-format sense carries the registers. Shifted: error, status,
    // device and count in bytes 8 to 11, flags and LBA from byte 16, of which
    // only 18 bytes are returned (older kernels, Debian 12's 6.1 among them).
    // Sat: where SAT puts them, information field bytes 3 to 6 and
    // command-specific bytes 8 to 11 (newer kernels).
    enum class FixedRegisters : uint8_t { Shifted, Sat };

    // D_SENSE in the control mode page: errors in descriptor format.
    bool descriptorSense = false;
    FixedRegisters fixedRegisters = FixedRegisters::Shifted;
    // On AHCI the registers after a PIO data-in command come from the PIO
    // Setup FIS; QEMU's controller leaves DRQ set in its ending status, which
    // libata reads as an error when CK_COND asks for the registers.
    bool pioSetupStatusHasDrq = true;
    // A translation that reports GOOD for ATA PASS-THROUGH without passing the
    // command on, its data buffer untouched.
    bool answersWithoutRunning = false;
};

// The sense for a completed pass-through command, or empty when the kernel
// reports GOOD. `failed` is the drive's error (ERR or DF); `registers` the
// result taskfile as libata read it.
std::vector<uint8_t> libataPassThroughSense(const LibataPort& port, const AtaOutputs& registers, bool extend,
                                            bool checkCondition, bool failed);

}  // namespace simdrive
