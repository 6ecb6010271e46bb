// Decoding a taskfile read.
#include "sat_sense_parse.h"

#include "sat_codec/sat_sense.h"

namespace sat_plugin {

namespace {

constexpr uint8_t kDescriptorLength = 0x0C;
constexpr std::size_t kDescriptorSenseLength = 22;

int lengthError(CvError* error, std::size_t got, std::size_t expected) {
    return CvSetError(error, CV_ERROR_FAILED, "CvSAT_ParseSense: SCSI system returned a sense length of %u, expected %u",
                      static_cast<unsigned>(got), static_cast<unsigned>(expected));
}

void store(const sat::Registers& r, AtaTaskfileBlock& out) {
    out.error = r.error;
    out.errorExp = r.errorExp;
    out.count = r.count;
    out.countExp = r.countExp;
    out.lbaLow = r.lbaLow;
    out.lbaLowExp = r.lbaLowExp;
    out.lbaMid = r.lbaMid;
    out.lbaMidExp = r.lbaMidExp;
    out.lbaHigh = r.lbaHigh;
    out.lbaHighExp = r.lbaHighExp;
    out.device = r.device;
    out.status = r.status;
}

}  // namespace

int parseSense(std::span<const uint8_t> sense, sat::FixedLayout layout, AtaTaskfileBlock& out, CvError* error) {
    if (sense.empty()) return lengthError(error, 0, sat::kStatusReturnDescriptorLength);
    const uint8_t code = sense[0] & 0x7F;
    switch (code) {
    case sat::kStatusReturnDescriptor:
        if (sense.size() < sat::kStatusReturnDescriptorLength)
            return lengthError(error, sense.size(), sat::kStatusReturnDescriptorLength);
        // The codec takes a longer descriptor too; on its own it must be exactly 0Ch.
        if (sense[1] != kDescriptorLength)
            return CvSetError(error, CV_ERROR_NOT_SUPPORTED,
                              "CvSAT_ParseSense: SCSI system returned an unsupported additional sense length (%d)",
                              sense[1]);
        break;
    case 0x72:
    case 0x73:
        if (sense.size() < kDescriptorSenseLength) return lengthError(error, sense.size(), kDescriptorSenseLength);
        break;
    case 0x70:
    case 0x71: break;
    default:
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED,
                          "CvSAT_ParseSense: SCSI system returned an unsupported sense response code 0x%02X", code);
    }
    const sat::DecodedSense decoded = sat::decodeSense(sense, layout);
    switch (decoded.verdict) {
    case sat::SenseVerdict::Registers: break;
    case sat::SenseVerdict::TooShort: return lengthError(error, sense.size(), decoded.needed);
    default:
        // Descriptor sense without the descriptor: there are no registers to
        // read, and zeros would pass for a drive that has nothing to report.
        return CvSetError(error, CV_ERROR_NOT_SUPPORTED,
                          "CvSAT_ParseSense: SCSI system returned descriptor sense without an ATA Status Return "
                          "descriptor");
    }
    store(decoded.registers, out);
    return CvSetNoError(error);
}

bool registersCameBack(const AtaTaskfileBlock& r) {
    return r.status != 0 || r.error != 0 || r.device != 0 || r.count != 0 || r.lbaLow != 0 || r.lbaMid != 0;
}

}  // namespace sat_plugin
