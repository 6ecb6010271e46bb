// libata's sense data for ATA PASS-THROUGH.
#include "libata_sense.h"

#include <array>

#include "simdrive/scsi_bus.h"

namespace simdrive {

namespace {

constexpr uint8_t kBusy = 0x80, kDeviceFault = 0x20, kCorrected = 0x04, kDrq = 0x08, kErr = 0x01;
constexpr uint8_t kKeyRecoveredError = 0x01, kKeyMediumError = 0x03, kKeyNotReady = 0x02;

struct Mapped {
    uint8_t key, asc, ascq;
};

// The ATA error register, then the status, to a sense key and ASC/ASCQ, as
// the kernel's table has it (an error of ABRT alone falls through to the
// status; the last resort is ABORTED COMMAND 00h/00h).
Mapped mapAtaError(uint8_t status, uint8_t error) {
    struct Entry {
        uint8_t bits;
        Mapped mapped;
    };
    static constexpr std::array<Entry, 13> kErrorTable{{
        {0xD1, {scsi::kKeyAbortedCommand, 0x00, 0x00}},
        {0xD0, {scsi::kKeyAbortedCommand, 0x00, 0x00}},
        {0x61, {scsi::kKeyHardwareError, 0x00, 0x00}},
        {0x84, {scsi::kKeyAbortedCommand, 0x47, 0x00}},
        {0x37, {kKeyNotReady, 0x04, 0x00}},
        {0x09, {kKeyNotReady, 0x04, 0x00}},
        {0x01, {kKeyMediumError, 0x13, 0x00}},
        {0x02, {scsi::kKeyHardwareError, 0x00, 0x00}},
        {0x08, {kKeyNotReady, 0x04, 0x00}},
        {0x10, {scsi::kKeyIllegalRequest, 0x21, 0x00}},
        {0x20, {scsi::kKeyUnitAttention, 0x28, 0x00}},
        {0x40, {kKeyMediumError, 0x11, 0x04}},
        {0x80, {kKeyMediumError, 0x11, 0x04}},
    }};
    static constexpr std::array<Entry, 3> kStatusTable{{
        {kBusy, {scsi::kKeyAbortedCommand, 0x00, 0x00}},
        {kDeviceFault, {scsi::kKeyHardwareError, 0x44, 0x00}},
        {kCorrected, {kKeyRecoveredError, 0x00, 0x00}},
    }};
    if ((status & kBusy) != 0) error = 0;
    if (error != 0) {
        for (const Entry& entry : kErrorTable) {
            if ((entry.bits & error) == entry.bits) return entry.mapped;
        }
    }
    for (const Entry& entry : kStatusTable) {
        if ((entry.bits & status) != 0) return entry.mapped;
    }
    return {scsi::kKeyAbortedCommand, 0x00, 0x00};
}

std::vector<uint8_t> descriptorSense(const Mapped& code, const AtaOutputs& r, bool extend) {
    std::vector<uint8_t> sense(22, 0);
    sense[0] = 0x72;
    sense[1] = code.key;
    sense[2] = code.asc;
    sense[3] = code.ascq;
    sense[7] = 14;
    uint8_t* d = sense.data() + 8;
    d[0] = 0x09;
    d[1] = 0x0C;
    d[2] = extend ? 0x01 : 0x00;
    d[3] = r.error;
    d[4] = extend ? r.countExp : 0;
    d[5] = r.count;
    d[6] = extend ? r.lbaLowExp : 0;
    d[7] = r.lbaLow;
    d[8] = extend ? r.lbaMidExp : 0;
    d[9] = r.lbaMid;
    d[10] = extend ? r.lbaHighExp : 0;
    d[11] = r.lbaHigh;
    d[12] = r.device;
    d[13] = r.status;
    return sense;
}

std::vector<uint8_t> fixedSense(const Mapped& code, const AtaOutputs& r, bool extend,
                                LibataPort::FixedRegisters layout) {
    // The kernel builds the fields in a 96-byte buffer and returns the 18
    // bytes that the additional sense length (10) covers.
    std::array<uint8_t, 20> full{};
    full[0] = 0x70;
    full[2] = code.key;
    full[7] = 10;
    full[12] = code.asc;
    full[13] = code.ascq;
    const bool sat = layout == LibataPort::FixedRegisters::Sat;
    if (sat) full[0] |= 0x80;  // VALID: the information field is set
    const std::size_t first = sat ? 3 : 8;
    const std::size_t flags = sat ? 8 : 16;
    full[first] = r.error;
    full[first + 1] = r.status;
    full[first + 2] = r.device;
    full[first + 3] = r.count;
    if (extend) {
        full[flags] |= 0x80;
        if (r.countExp != 0) full[flags] |= 0x40;
        if (r.lbaLowExp != 0 || r.lbaMidExp != 0 || r.lbaHighExp != 0) full[flags] |= 0x20;
    }
    full[flags + 1] = r.lbaLow;
    full[flags + 2] = r.lbaMid;
    full[flags + 3] = r.lbaHigh;
    return {full.begin(), full.begin() + 18};
}

}  // namespace

std::vector<uint8_t> libataPassThroughSense(const LibataPort& port, const AtaOutputs& registers, bool extend,
                                            bool checkCondition, bool failed) {
    if (!checkCondition && !failed) return {};
    if (failed || (registers.status & (kBusy | kDeviceFault | kErr | kDrq)) != 0) {
        const Mapped code = mapAtaError(registers.status, registers.error);
        return port.descriptorSense ? descriptorSense(code, registers, extend)
                                    : fixedSense(code, registers, extend, port.fixedRegisters);
    }
    // Success with CK_COND: always descriptor format, whatever D_SENSE says.
    return descriptorSense({kKeyRecoveredError, 0x00, 0x1D}, registers, extend);
}

}  // namespace simdrive
