// The ATA registers a SCSI/ATA Translation returns in sense data: the ATA
// Status Return descriptor (09h) of descriptor-format sense (72h/73h), the
// same descriptor on its own, or the information and command-specific fields
// of fixed-format sense (70h/71h). Every byte here comes from a device or a
// bridge and is read with bounds checks only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sat {

struct Registers {
    uint8_t error = 0, errorExp = 0;
    uint8_t count = 0, countExp = 0;
    uint8_t lbaLow = 0, lbaLowExp = 0;
    uint8_t lbaMid = 0, lbaMidExp = 0;
    uint8_t lbaHigh = 0, lbaHighExp = 0;
    uint8_t device = 0;
    uint8_t status = 0;
};

// Where fixed-format sense carries the registers. SAT: error, status, device
// and count (7:0) in the information field (bytes 3 to 6), the extend flags
// in byte 8 and LBA (7:0), (15:8), (23:16) in bytes 9 to 11. Some early
// translators give LBA (23:16) in byte 9 and (7:0) in byte 11. Linux libata
// before its fix (Debian 12's 6.1 among them) writes the same fields eight
// bytes further on (error, status, device, count in bytes 8 to 11, the flags
// in 16, LBA in 17 to 19) and returns only the first 18 bytes, so LBA (15:8)
// and (23:16) are lost. Detect takes SAT when the VALID bit or the
// information field is set, which libata's older layout never does.
enum class FixedLayout : uint8_t { Sat, SatLbaReversed, LibataShifted, Detect };

struct SenseCode {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

enum class SenseVerdict : uint8_t {
    Registers,      // the registers were decoded
    TooShort,       // fewer bytes (within the additional sense length) than the registers need
    NoDescriptor,   // descriptor-format sense without an ATA Status Return descriptor
    UnknownFormat,  // a response code that carries no registers
};

struct DecodedSense {
    SenseVerdict verdict = SenseVerdict::UnknownFormat;
    uint8_t responseCode = 0;  // without the VALID bit
    SenseCode code;            // from 70h to 73h sense; 0 for a bare descriptor
    Registers registers;
    std::size_t needed = 0;    // with TooShort: the bytes the format needs
};

inline constexpr uint8_t kStatusReturnDescriptor = 0x09;
inline constexpr std::size_t kStatusReturnDescriptorLength = 14;

// Decodes sense data or a bare ATA Status Return descriptor.
DecodedSense decodeSense(std::span<const uint8_t> sense, FixedLayout layout);

// The registers of an ATA Status Return descriptor whose type byte the caller
// has checked (at least 14 bytes, additional length 0Ch or more); false otherwise.
bool decodeStatusReturnDescriptor(std::span<const uint8_t> descriptor, Registers& registers);

// ATA PASS THROUGH INFORMATION AVAILABLE with no error (NO SENSE or RECOVERED
// ERROR, ASC/ASCQ 00h/1Dh): the registers of a command asked for with CK_COND
// that succeeded.
bool isPassThroughInformation(const SenseCode& code);

// The ATA status reports an error (ERR) or a device fault (DF).
inline bool statusReportsError(uint8_t status) { return (status & 0x21) != 0; }

}  // namespace sat
