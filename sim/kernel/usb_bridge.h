// USB-to-ATA bridges of the kinds that exist, in front of a simulated ATA
// drive: SAT bridges that return the registers of PROTOCOL 15 (return
// response information) in different ways, an ATACB bridge, and a bridge
// that passes no ATA command at all.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "simdrive/ata_bus.h"

struct sg_io_hdr;

namespace simdrive {

class AtaDrive;

struct UsbBridge {
    enum class Kind : uint8_t {
        SatDescriptor,      // "sat": descriptor sense with the Status Return descriptor, as data
        SatAutoSense,       // "sat-autosense": the registers only as automatic sense
        SatErrorsOnly,      // "sat-errors-only": registers as data after an error, zeros otherwise; no UDMA
        SatFixed2,          // "sat2-fixed": fixed-format sense as data, LBA (23:16) in byte 9
        SatFixed3,          // "sat3-fixed": fixed-format sense as data, LBA (7:0) in byte 9; claims SAT-3
        Atacb,              // "atacb": the vendor ATA Command Block (24h)
        NoAta,              // "no-ata": mass storage that passes no ATA command
    };
    Kind kind = Kind::SatDescriptor;
};

// A bridge by its name in a node table; nothing for an unknown name.
std::optional<UsbBridge> parseUsbBridge(std::string_view name);

// One bridge's memory: the registers of the last ATA command, and the (15:8)
// values an ATACB request wrote for the next command.
struct UsbBridgeState {
    explicit UsbBridgeState(const UsbBridge& kind) : bridge(kind) {}
    const UsbBridge bridge;
    std::mutex mutex;  // one command at a time, as on a USB link
    AtaOutputs last;
    bool lastFailed = false;
    bool extendedPending = false;
    AtaInputs pending;
};

// Answers one SG_IO request as the bridge does. 0, or -1 with errno.
int answerUsbBridge(AtaDrive& drive, sg_io_hdr& request, UsbBridgeState& state);

}  // namespace simdrive
