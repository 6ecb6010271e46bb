// Building the simulated CSMI adapters of a farm.
#include "csmi_farm.h"

#include <memory>
#include <vector>

#include "csmi/csmi_wire.h"
#include "sim_csmi_adapter.h"
#include "simdrive/text_fields.h"

namespace simdrive {

namespace {

constexpr uint8_t kEdgeExpander = 0x20;
constexpr uint64_t kMadeUpAddressBase = 0x5000C50000000000ull;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        pieces.emplace_back(trimBlanks(std::string_view(text).substr(start, end == std::string::npos ? end : end - start)));
        if (end == std::string::npos) return pieces;
        start = end + 1;
    }
}

bool parsePhy(const ControllerFarm& farm, uint32_t adapter, const std::string& text, CsmiPhy& phy,
              std::string& error) {
    const std::vector<std::string> parts = split(text, ':');
    const auto number = parts.empty() ? std::nullopt : parseUnsigned(parts[0], 255);
    const auto port = parts.size() > 2 ? parseUnsigned(parts[2], 255) : number;
    if (parts.size() < 2 || parts.size() > 3 || !number || !port) {
        error = "phy '" + text + "' is not <phy>:<drive|expander|empty>[:<port>]";
        return false;
    }
    phy.phyIdentifier = static_cast<uint8_t>(*number);
    phy.portIdentifier = static_cast<uint8_t>(*port);
    const std::string attached = toLower(parts[1]);
    if (attached == "empty") return true;
    if (attached == "expander") {
        phy.attachedType = kEdgeExpander;
        phy.sasAddress = kMadeUpAddressBase | 0xE00000u | adapter << 8 | phy.phyIdentifier;
        return true;
    }
    phy.drive = farm.drive(parts[1]);
    if (!phy.drive || phy.drive->kind() == DriveKind::Nvme) {
        error = "phy '" + text + "': no ATA or SCSI drive '" + parts[1] + "' in Drives";
        return false;
    }
    phy.attachedType = CSMI_DEVICE_END_DEVICE;
    const uint64_t wwn = phy.drive->description().wwn;
    phy.sasAddress = wwn != 0 ? wwn : kMadeUpAddressBase | adapter << 8 | phy.phyIdentifier;
    return true;
}

}  // namespace

bool addCsmiAdapters(const ControllerFarm& farm, std::string& error) {
    for (const std::string& name : farm.list("Adapters")) {
        const auto number = parseUnsigned(name, 255);
        if (!number) {
            error = "Adapters: '" + name + "' is no adapter number from 0 to 255";
            return false;
        }
        std::vector<CsmiPhy> phys;
        for (const std::string& text : farm.list("Phys." + name)) {
            CsmiPhy phy;
            if (!parsePhy(farm, static_cast<uint32_t>(*number), text, phy, error)) {
                error = "Phys." + name + ": " + error;
                return false;
            }
            phys.push_back(std::move(phy));
        }
        SimKernel::instance().addCsmiNode(kCsmiNodePattern + std::to_string(*number),
                                          std::make_shared<SimCsmiAdapter>("simcsmi", std::move(phys)));
    }
    return true;
}

}  // namespace simdrive
