// Identify data of a simulated NVMe controller and its namespaces.
#include <span>

#include "byte_order.h"
#include "simdrive/nvme_drive.h"
#include "simdrive/text_fields.h"

namespace simdrive {

std::array<uint8_t, nvme::kIdentifySize> nvmeIdentifyController(const DriveDescription& d,
                                                                 const FirmwareState& firmware) {
    std::array<uint8_t, nvme::kIdentifySize> data{};
    std::span<uint8_t> out(data);
    putBlankPadded(out.subspan(4, 20), d.serial);
    putBlankPadded(out.subspan(24, 40), d.model);
    putBlankPadded(out.subspan(64, 8), firmware.revision);
    data[72] = 6;  // recommended arbitration burst
    data[73] = static_cast<uint8_t>(d.oui);  // IEEE OUI, least significant byte first
    data[74] = static_cast<uint8_t>(d.oui >> 8);
    data[75] = static_cast<uint8_t>(d.oui >> 16);
    putLe16(out, 78, 1);             // controller ID
    putLe32(out, 80, 0x00010400);    // NVMe 1.4
    putLe16(out, 256, d.firmwareUpdate ? 0x0004 : 0);  // Firmware Commit and Image Download
    data[258] = 3;                   // abort command limit
    data[259] = 3;                   // asynchronous event request limit
    data[260] = static_cast<uint8_t>((d.slot1ReadOnly ? 0x01 : 0) | (d.firmwareSlots & 0x7) << 1 |
                                     (d.activateWithoutReset ? 0x10 : 0));
    data[319] = d.fwug;
    data[512] = 0x66;                // submission queue entries of 64 bytes
    data[513] = 0x44;                // completion queue entries of 16 bytes
    putLe32(out, 516, d.namespaces);
    std::string nqn = "nqn.2024-01.invalid.simdrive:" + d.serial;
    putBlankPadded(out.subspan(768, nqn.size()), nqn);
    return data;
}

std::array<uint8_t, nvme::kIdentifySize> nvmeIdentifyNamespace(const DriveDescription& d) {
    std::array<uint8_t, nvme::kIdentifySize> data{};
    std::span<uint8_t> out(data);
    putLe64(out, 0, d.capacityBlocks);   // size
    putLe64(out, 8, d.capacityBlocks);   // capacity
    putLe64(out, 16, d.capacityBlocks);  // utilization
    // EUI-64: the OUI, then 40 bits derived from the serial number.
    putBe64(out, 120, static_cast<uint64_t>(d.oui) << 40 | (hashText(d.serial) & 0xFFFFFFFFFFull));
    data[130] = 9;                       // LBA format 0: 512-byte blocks
    return data;
}

}  // namespace simdrive
