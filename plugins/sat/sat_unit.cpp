// ATA commands through a SCSI/ATA Translation.
#include "sat_unit.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>

#include "bridge_request.h"
#include "sat_codec/sat_cdb.h"
#include "sat_codec/sat_sense.h"
#include "sat_sense_parse.h"

namespace sat_plugin {

namespace {

using usb_bridge::Direction;
using usb_bridge::ScsiOutcome;
using usb_bridge::ScsiRequest;

constexpr uint32_t kMaxTransfer = 65536;
constexpr uint64_t kMaxLba28 = 0x0FFFFFFFull;
constexpr uint64_t kMaxLba48 = 0xFFFFFFFFFFFFull;
constexpr uint32_t kSectorSize = 512;
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr std::size_t kReadBackLength = 22;
constexpr std::size_t kCommandSenseLength = 32;
constexpr uint8_t kRequestSense = 0x03;

std::vector<AtaAbility> satAbilities() {
    std::vector<AtaAbility> list;
    for (uint8_t protocol : {0, 1, 2, 3, 4, 5, 10, 11, 12, 13}) {
        const bool lba48 = AtaProtocol_Is48Bit(protocol) != 0;
        const bool moves = AtaProtocol_IsDataIn(protocol) || AtaProtocol_IsDataOut(protocol);
        list.push_back(usb_bridge::makeAbility(protocol, moves ? kMaxTransfer : 0, lba48 ? kMaxLba48 : kMaxLba28,
                                               ATA_REG_SET_28BIT, lba48 ? ATA_REG_SET_48BIT : ATA_REG_SET_28BIT));
    }
    return list;
}

// How one protocol of the command block travels.
struct Route {
    bool cdb16 = false;
    sat::Protocol protocol = sat::Protocol::NonData;
    Direction direction = Direction::None;
};

std::optional<Route> routeOf(uint8_t protocol) {
    const bool cdb16 = AtaProtocol_Is48Bit(protocol) != 0;
    switch (protocol) {
    case ATA_PROTOCOL_NON_DATA:
    case ATA_PROTOCOL_NON_DATA_EXT: return Route{cdb16, sat::Protocol::NonData, Direction::None};
    case ATA_PROTOCOL_SOFT_RESET: return Route{false, sat::Protocol::SoftReset, Direction::None};
    case ATA_PROTOCOL_PIO_IN:
    case ATA_PROTOCOL_PIO_IN_EXT: return Route{cdb16, sat::Protocol::PioIn, Direction::In};
    case ATA_PROTOCOL_PIO_OUT:
    case ATA_PROTOCOL_PIO_OUT_EXT: return Route{cdb16, sat::Protocol::PioOut, Direction::Out};
    case ATA_PROTOCOL_DMA_IN:
    case ATA_PROTOCOL_DMA_IN_EXT: return Route{cdb16, sat::Protocol::UdmaIn, Direction::In};
    case ATA_PROTOCOL_DMA_OUT:
    case ATA_PROTOCOL_DMA_OUT_EXT: return Route{cdb16, sat::Protocol::UdmaOut, Direction::Out};
    default: return std::nullopt;
    }
}

// The registers whose bits the input mask sets; the (15:8) ones only travel
// in the 16-byte block.
sat::Taskfile maskedTaskfile(const AtaCommandBlock& block, bool withExpanded) {
    const uint32_t mask = block.inputMask;
    auto take = [mask](uint32_t bit, uint8_t value) -> uint8_t { return (mask & bit) != 0 ? value : 0; };
    sat::Taskfile tf;
    tf.features = take(ATA_REG_FEATURES, block.features);
    tf.count = take(ATA_REG_COUNT, block.count);
    tf.lbaLow = take(ATA_REG_LBA_LOW, block.lbaLow);
    tf.lbaMid = take(ATA_REG_LBA_MID, block.lbaMid);
    tf.lbaHigh = take(ATA_REG_LBA_HIGH, block.lbaHigh);
    tf.device = take(ATA_REG_DEVICE, block.device);
    tf.command = take(ATA_REG_COMMAND, block.command);
    if (withExpanded) {
        tf.featuresExp = take(ATA_REG_FEATURES_EXP, block.featuresExp);
        tf.countExp = take(ATA_REG_COUNT_EXP, block.countExp);
        tf.lbaLowExp = take(ATA_REG_LBA_LOW_EXP, block.lbaLowExp);
        tf.lbaMidExp = take(ATA_REG_LBA_MID_EXP, block.lbaMidExp);
        tf.lbaHighExp = take(ATA_REG_LBA_HIGH_EXP, block.lbaHighExp);
    }
    return tf;
}

struct Cdb {
    std::array<uint8_t, sat::kCdb16Length> bytes{};
    std::size_t length = 0;
    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
};

template <std::size_t N>
Cdb cdbOf(const std::array<uint8_t, N>& built) {
    Cdb cdb;
    std::copy(built.begin(), built.end(), cdb.bytes.begin());
    cdb.length = N;
    return cdb;
}

// The command block of a command, or 0 with the refusal.
int buildCdb(const AtaCommandBlock& block, uint32_t length, Route& route, Cdb& cdb, CvError* error) {
    if ((block.options & ATA_OPTION_OFFLINE) != 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    const std::optional<Route> found = routeOf(block.protocol);
    if (!found) return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported protocol encountered: %d", block.protocol);
    route = *found;
    sat::Command command;
    command.protocol = route.protocol;
    if (route.direction != Direction::None) {
        if (length == 0)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Data length is not allowed to be 0 on a data transfer");
        if (length % kSectorSize != 0)
            return CvSetError(error, CV_ERROR_INVALID_INPUT,
                              "This device only supports transfers that are a multiple of the sector size (512), "
                              "found %d",
                              static_cast<int>(length));
        command.transfer = route.direction == Direction::In ? sat::Transfer::FromDevice : sat::Transfer::ToDevice;
    }
    command.taskfile = maskedTaskfile(block, route.cdb16);
    if (route.cdb16) {
        command.extend = true;
        cdb = cdbOf(sat::buildCdb16(command));
    } else {
        // Some bridges take the count of IDENTIFY DEVICE as the length of its data.
        if (command.taskfile.command == kIdentifyDevice) command.taskfile.count = 1;
        cdb = cdbOf(sat::buildCdb12(command));
    }
    return CvSetNoError(error);
}

Cdb returnResponseCdb(std::size_t length) {
    sat::Command command;
    command.protocol = sat::Protocol::ReturnResponse;
    command.extend = length == sat::kCdb16Length;
    return command.extend ? cdbOf(sat::buildCdb16(command)) : cdbOf(sat::buildCdb12(command));
}

bool checkCondition(uint8_t status) { return (status & usb_bridge::kScsiCheckCondition) != 0; }

// REQUEST SENSE for `area.size()` bytes; the bytes that came, or 0.
uint32_t requestSense(int fd, std::span<uint8_t> area, CvError* error) {
    const std::array<uint8_t, 6> cdb = {kRequestSense, 0, 0, 0, static_cast<uint8_t>(area.size()), 0};
    const ScsiOutcome outcome = usb_bridge::sendScsi(fd, usb_bridge::readRequest(cdb, area));
    if (outcome.systemError != 0) {
        CvSetError(error, CV_ERROR_FAILED, "CvSAT_RequestSense: SCSI system aborted request sense cdb: %d",
                   outcome.systemError);
        return 0;
    }
    if (outcome.status != usb_bridge::kScsiGood) {
        CvSetError(error, CV_ERROR_FAILED, "CvSAT_RequestSense: SCSI status is 0x%X", outcome.status);
        return 0;
    }
    CvSetNoError(error);
    return outcome.transferred;
}

// Off USB there is no read-back: a translation such as the kernel's reports
// the drive's error with the registers in the command's own sense. Sense that
// neither shows an ATA error nor says the command was carried out leaves
// what the drive did unknown.
bool kernelAnswer(std::span<const uint8_t> sense, AtaTaskfileBlock& registers) {
    CvError ignored{};
    if (!parseSense(sense, sat::FixedLayout::Detect, registers, &ignored)) return false;
    const sat::SenseCode code = sat::decodeSense(sense, sat::FixedLayout::Detect).code;
    return sat::statusReportsError(registers.status) || code.key <= 0x01;
}

}  // namespace

SatUnit::SatUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
                 std::shared_ptr<passthrough::OpenDisk> disk, bool usb, sat::Version version)
    : BridgeUnit(plugin, resource, std::move(path), std::move(disk),
                 ATA_CAPABILITY_READ_TASKFILE | ATA_CAPABILITY_RESET, satAbilities()),
      usb_(usb),
      version_(version) {}

ReadBackMode SatUnit::readBackMode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

int SatUnit::doCommand(AtaCommandBlock& block, uint8_t* data, uint32_t length, CvError* error) {
    Route route;
    Cdb cdb;
    if (!buildCdb(block, length, route, cdb, error)) return 0;
    const Snapshot unit = snapshot();
    if (!unit.disk) return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");

    std::array<uint8_t, kCommandSenseLength> sense{};
    ScsiRequest request;
    request.cdb = cdb.view();
    request.direction = route.direction;
    request.data = route.direction == Direction::None ? nullptr : data;
    request.length = route.direction == Direction::None ? 0 : length;
    request.timeoutNs = unit.timeoutNs;
    request.sense = sense;
    const ScsiOutcome outcome = usb_bridge::sendScsi(unit.disk->fd(), request);
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "SCSI system aborted SAT command: %d", outcome.systemError);
    block.resultFlags |= ATA_RESULT_DURATION_VALID;
    block.timeOrTimeout = outcome.durationNs;
    if (outcome.status != usb_bridge::kScsiGood && !checkCondition(outcome.status))
        return CvSetError(error, CV_ERROR_FAILED, "CvSAT_ResourceService_DoCommand: SCSI status is 0x%X",
                          outcome.status);
    const std::span<const uint8_t> commandSense(sense.data(), checkCondition(outcome.status) ? outcome.senseLength : 0);

    AtaTaskfileBlock registers{};
    if (usb_) {
        if (usb_bridge::refusedByBridge(commandSense))
            return usb_bridge::bridgeRefusal(commandSense, "ATA PASS-THROUGH", error);
        if (!readBackAfterCommand(unit.disk->fd(), cdb.length, registers, error)) return 0;
    } else if (!commandSense.empty() && !kernelAnswer(commandSense, registers)) {
        return CvSetError(error, CV_ERROR_FAILED, "SAT read task file failed");
    }
    usb_bridge::copyOutputRegisters(registers, block);
    usb_bridge::markRegistersValid(block);
    return CvSetNoError(error);
}

int SatUnit::readBackAfterCommand(int fd, std::size_t cdbLength, AtaTaskfileBlock& out, CvError* error) {
    const ReadBackMode mode = readBackMode();
    if (mode != ReadBackMode::Unknown) {
        CvError reason{};
        if (!readBack(fd, cdbLength, mode, out, &reason))
            return CvSetError(error, CV_ERROR_FAILED, "SAT read task file failed");
        return CvSetNoError(error);
    }
    // The first command: registers as data, then as automatic sense; a
    // bridge that shows none either way is read as data from now on.
    CvError ignored{};
    AtaTaskfileBlock asData{};
    const bool dataRead = readBack(fd, cdbLength, ReadBackMode::DataConfirmed, asData, &ignored) != 0;
    ReadBackMode chosen = ReadBackMode::DataFallback;
    out = asData;
    if (dataRead && registersCameBack(asData)) {
        chosen = ReadBackMode::DataConfirmed;
    } else {
        AtaTaskfileBlock asSense{};
        if (readBack(fd, cdbLength, ReadBackMode::AutoSense, asSense, &ignored) && registersCameBack(asSense)) {
            chosen = ReadBackMode::AutoSense;
            out = asSense;
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (mode_ == ReadBackMode::Unknown) mode_ = chosen;
    }
    // Zeros from a read that failed are no registers: the outcome is unknown.
    if (chosen == ReadBackMode::DataFallback && !dataRead)
        return CvSetError(error, CV_ERROR_FAILED, "SAT read task file failed");
    return CvSetNoError(error);
}

int SatUnit::readBack(int fd, std::size_t cdbLength, ReadBackMode mode, AtaTaskfileBlock& out, CvError* error) const {
    const Cdb cdb = returnResponseCdb(cdbLength);
    std::array<uint8_t, kReadBackLength> area{};
    std::array<uint8_t, kCommandSenseLength> sense{};
    const bool autoSense = mode == ReadBackMode::AutoSense;
    ScsiRequest request;
    request.cdb = cdb.view();
    request.timeoutNs = usb_bridge::kFixedTimeoutNs;
    if (autoSense) {
        request.sense = std::span<uint8_t>(area);
    } else {
        request.direction = Direction::In;
        request.data = area.data();
        request.length = static_cast<uint32_t>(area.size());
        request.sense = sense;
    }
    const ScsiOutcome outcome = usb_bridge::sendScsi(fd, request);
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED,
                          "CvSAT_ReadTaskfile: SCSI system aborted return status passthru cdb: %d",
                          outcome.systemError);
    // The registers of automatic sense come with CHECK CONDITION.
    const bool statusAccepted =
        outcome.status == usb_bridge::kScsiGood || (autoSense && outcome.status == usb_bridge::kScsiCheckCondition);
    if (!statusAccepted)
        return CvSetError(error, CV_ERROR_FAILED, "CvSAT_ReadTaskfile: SCSI status is 0x%X", outcome.status);
    uint32_t received = autoSense ? outcome.senseLength : outcome.transferred;
    if (received == 0) {
        CvError ignored{};
        received = requestSense(fd, area, &ignored);
    }
    return parseSense({area.data(), received}, sat::fixedLayoutOf(version_), out, error);
}

int SatUnit::readTaskfile(AtaTaskfileBlock& block, CvError* error) {
    const std::shared_ptr<passthrough::OpenDisk> disk = diskOrFail(error);
    if (!disk) return 0;
    AtaTaskfileBlock registers{};
    if (!readBack(disk->fd(), sat::kCdb16Length, readBackMode(), registers, error)) return 0;
    std::memcpy(&block.device, &registers.device, ATA_TASKFILE_BLOCK_SIZE - offsetof(AtaTaskfileBlock, device));
    return CvSetNoError(error);
}

int SatUnit::softReset(CvError* error) {
    const std::shared_ptr<passthrough::OpenDisk> disk = diskOrFail(error);
    if (!disk) return 0;
    const std::array<uint8_t, sat::kCdb12Length> cdb = {sat::kOpAtaPassThrough12};
    ScsiRequest request;
    request.cdb = cdb;
    request.timeoutNs = usb_bridge::kFixedTimeoutNs;
    const ScsiOutcome outcome = usb_bridge::sendScsi(disk->fd(), request);
    if (outcome.systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "CvSAT_SoftReset: SCSI system aborted return status passthru cdb: %d",
                          outcome.systemError);
    if (outcome.status != usb_bridge::kScsiGood)
        return CvSetError(error, CV_ERROR_FAILED, "CvSAT_SoftReset: SCSI status is 0x%X", outcome.status);
    return CvSetNoError(error);
}

}  // namespace sat_plugin
