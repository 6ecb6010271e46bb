// ATA commands through an ATACB bridge.
#include "atacb_unit.h"

#include <array>

#include "atacb_cdb.h"
#include "bridge_request.h"

namespace atacb_plugin {

namespace {

using usb_bridge::Direction;
using usb_bridge::ScsiOutcome;
using usb_bridge::ScsiRequest;

constexpr uint32_t kMaxTransfer = 131072;
constexpr uint64_t kMaxLba28 = 0x0FFFFFFFull;
constexpr uint16_t kReturnedRegisters = 0x0FFB;
constexpr std::size_t kSenseLength = 32;

std::vector<AtaAbility> atacbAbilities() {
    std::vector<AtaAbility> list;
    for (uint8_t protocol : {0, 2, 3, 10, 11})
        list.push_back(usb_bridge::makeAbility(protocol, protocol == 0 ? 0 : kMaxTransfer, kMaxLba28,
                                               ATA_REG_SET_28BIT, kReturnedRegisters));
    return list;
}

bool statusFails(uint8_t status) { return status != 0 && (status & usb_bridge::kScsiCheckCondition) == 0; }

// Everything that can be refused before a byte is sent, so that a refused
// command leaves no "previous" registers behind on the bridge.
int checkCommand(const AtaCommandBlock& block, uint32_t length, atacb::Route& route, CvError* error) {
    const std::optional<atacb::Route> found = atacb::routeOf(block.protocol);
    if (!found) return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported protocol encountered: %d", block.protocol);
    route = *found;
    if ((block.options & ATA_OPTION_OFFLINE) != 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    if (route.moves && length == 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Data length is not allowed to be 0 on a data transfer");
    if (route.moves && length % atacb::kBlockSize != 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT,
                          "This device only supports transfers that are a multiple of the sector size (512), found %d",
                          static_cast<int>(length));
    return CvSetNoError(error);
}

}  // namespace

AtacbUnit::AtacbUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
                     std::shared_ptr<passthrough::OpenDisk> disk)
    : BridgeUnit(plugin, resource, std::move(path), std::move(disk), ATA_CAPABILITY_READ_TASKFILE, atacbAbilities()) {}

int AtacbUnit::doCommand(AtaCommandBlock& block, uint8_t* data, uint32_t length, CvError* error) {
    atacb::Route route;
    if (!checkCommand(block, length, route, error)) return 0;
    const Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    const int fd = unit.disk->fd();
    if ((block.inputMask & atacb::kPreviousRegisters) != 0 &&
        !writePreviousRegisters(fd, block, unit.timeoutNs, error))
        return 0;

    // The (15:8) registers went in the first request; this one carries the rest.
    const atacb::Cdb cdb = atacb::commandCdb(block, block.inputMask & ~atacb::kPreviousRegisters, route, length);
    std::array<uint8_t, kSenseLength> sense{};
    ScsiRequest request;
    request.cdb = cdb;
    request.direction = !route.moves ? Direction::None : route.fromDevice ? Direction::In : Direction::Out;
    request.data = route.moves ? data : nullptr;
    request.length = route.moves ? length : 0;
    request.timeoutNs = unit.timeoutNs;
    request.sense = sense;
    const ScsiOutcome outcome = usb_bridge::sendScsi(fd, request);
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "SCSI system aborted ATACB command: %d", outcome.systemError);
    block.resultFlags |= ATA_RESULT_DURATION_VALID;
    block.timeOrTimeout = outcome.durationNs;
    if (statusFails(outcome.status))
        return CvSetError(error, CV_ERROR_FAILED,
                          "CvATACB_ResourceService_DoCommand: SCSI Status reflects error condition %X", outcome.status);
    const std::span<const uint8_t> commandSense(sense.data(), outcome.status != 0 ? outcome.senseLength : 0);
    if (usb_bridge::refusedByBridge(commandSense)) return usb_bridge::bridgeRefusal(commandSense, "ATACB", error);

    AtaTaskfileBlock registers{};
    if (!readRegisters(fd, registers, error)) return 0;
    usb_bridge::copyOutputRegisters(registers, block);
    usb_bridge::markRegistersValid(block);
    return CvSetNoError(error);
}

int AtacbUnit::writePreviousRegisters(int fd, const AtaCommandBlock& block, uint64_t timeoutNs, CvError* error) {
    const atacb::Cdb cdb = atacb::previousRegistersCdb(block);
    std::array<uint8_t, kSenseLength> sense{};
    ScsiRequest request;
    request.cdb = cdb;
    request.timeoutNs = timeoutNs;
    request.sense = sense;
    const ScsiOutcome outcome = usb_bridge::sendScsi(fd, request);
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "SCSI system aborted ATACB command: %d", outcome.systemError);
    if (statusFails(outcome.status))
        return CvSetError(error, CV_ERROR_FAILED,
                          "CvATACB_ResourceService_WritePreviousRegisters: SCSI Status reflects error condition %X",
                          outcome.status);
    const std::span<const uint8_t> refusal(sense.data(), outcome.status != 0 ? outcome.senseLength : 0);
    if (usb_bridge::refusedByBridge(refusal)) return usb_bridge::bridgeRefusal(refusal, "ATACB", error);
    return CvSetNoError(error);
}

int AtacbUnit::readRegisters(int fd, AtaTaskfileBlock& out, CvError* error) {
    const atacb::Cdb cdb = atacb::taskfileReadCdb();
    std::array<uint8_t, atacb::kTaskfileReplyLength> reply{};
    const ScsiOutcome outcome = usb_bridge::sendScsi(fd, usb_bridge::readRequest(cdb, reply));
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED,
                          "CvATACB_ReadTaskfile: SCSI system aborted return status passthru cdb: %d",
                          outcome.systemError);
    if (outcome.status != usb_bridge::kScsiGood)
        return CvSetError(error, CV_ERROR_FAILED, "CvATACB_ReadTaskfile: Status reflects error condition %X",
                          outcome.status);
    if (!atacb::decodeTaskfileReply({reply.data(), outcome.transferred}, out))
        return CvSetError(error, CV_ERROR_FAILED, "CvATACB_ReadTaskfile: the bridge returned %u of %u taskfile bytes",
                          static_cast<unsigned>(outcome.transferred), static_cast<unsigned>(reply.size()));
    return CvSetNoError(error);
}

int AtacbUnit::readTaskfile(AtaTaskfileBlock& block, CvError* error) {
    const std::shared_ptr<passthrough::OpenDisk> disk = diskOrFail(error);
    if (!disk) return 0;
    return readRegisters(disk->fd(), block, error);
}

}  // namespace atacb_plugin
