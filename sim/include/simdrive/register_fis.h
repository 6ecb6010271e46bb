// The SATA register FISes that controllers carry for pass-through: a
// host-to-device FIS read into a drive's input registers, and the drive's
// output registers written as a device-to-host FIS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simdrive/ata_bus.h"

namespace simdrive {

inline constexpr uint8_t kFisTypeDeviceToHost = 0x34;

inline AtaInputs registerFisInputs(const uint8_t* fis) {
    AtaInputs in;
    in.command = fis[2];
    in.features = fis[3];
    in.lbaLow = fis[4];
    in.lbaMid = fis[5];
    in.lbaHigh = fis[6];
    in.device = fis[7];
    in.lbaLowExp = fis[8];
    in.lbaMidExp = fis[9];
    in.lbaHighExp = fis[10];
    in.featuresExp = fis[11];
    in.count = fis[12];
    in.countExp = fis[13];
    return in;
}

// True when the FIS set any (15:8) register: the command is a 48-bit one.
inline bool carriesExpandedRegisters(const AtaInputs& in) {
    return (in.featuresExp | in.countExp | in.lbaLowExp | in.lbaMidExp | in.lbaHighExp) != 0;
}

// Fills `size` bytes (at least the 14 that hold registers): the FIS, zeros after it.
inline void writeDeviceToHostFis(const AtaOutputs& out, uint8_t* fis, std::size_t size) {
    std::memset(fis, 0, size);
    fis[0] = kFisTypeDeviceToHost;
    fis[2] = out.status;
    fis[3] = out.error;
    fis[4] = out.lbaLow;
    fis[5] = out.lbaMid;
    fis[6] = out.lbaHigh;
    fis[7] = out.device;
    fis[8] = out.lbaLowExp;
    fis[9] = out.lbaMidExp;
    fis[10] = out.lbaHighExp;
    fis[12] = out.count;
    fis[13] = out.countExp;
}

}  // namespace simdrive
