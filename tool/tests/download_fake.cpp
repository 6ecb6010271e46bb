#include "download_fake.h"

#include "fake_drives.h"

#include <device_contracts.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace firmstep::test {
namespace {

DownloadFake* g_fake = nullptr;

constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kAtaDownload = 0x92;
constexpr std::uint8_t kAtaDownloadDma = 0x93;
constexpr std::uint8_t kScsiInquiry = 0x12;
constexpr std::uint8_t kScsiWriteBuffer = 0x3B;

void TakeFirmware(DownloadDrive& drive)
{
    if (!drive.revisionAfterUpdate.empty())
        drive.revision = drive.revisionAfterUpdate;
}

// Counts down a refusal budget; true when this command is refused.
bool Refuse(int& budget, bool always)
{
    if (always)
        return true;
    if (budget > 0) {
        --budget;
        return true;
    }
    return false;
}

int Abilities(const DownloadDrive& drive, CvCommand& command, CvError& error)
{
    if (drive.abilityCountFails)
        return CvSetError(&error, CV_ERROR_FAILED, "Abilities are not available");
    const bool ata = drive.kind == BusKind::Ata;
    const std::int32_t count = ata ? 6 : 3;
    if (command.function == DEVICE_FUNCTION_GET_ABILITY_COUNT) {
        std::memcpy(command.buffers[0], &count, sizeof count);
        return CvSetNoError(&error);
    }
    std::int32_t index = 0;
    std::memcpy(&index, command.buffers[0], sizeof index);
    if (index < 0 || index >= count)
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Ability index out of bounds: %d (max is %d)", index, count);
    if (ata) {
        AtaAbility ability{};
        ability.identifier = static_cast<std::uint8_t>(index);
        ability.maxTransferBytes = index < 2 ? 0 : drive.libraryLimit;
        std::memcpy(command.buffers[1], &ability, sizeof ability);
    } else {
        ScsiAbility ability{};
        ability.kind = static_cast<std::uint8_t>(index);
        ability.maxTransferBytes = index == 0 ? 0 : index == 1 ? 0x2000000u : drive.libraryLimit;
        std::memcpy(command.buffers[1], &ability, sizeof ability);
    }
    return CvSetNoError(&error);
}

int Ata(DownloadDrive& drive, CvCommand& command, CvError& error)
{
    auto& block = *static_cast<AtaCommandBlock*>(command.buffers[0]);
    if (block.command == kAtaIdentify) {
        if (drive.failIdentify)
            return CvSetError(&error, CV_ERROR_FAILED, "Identify refused");
        auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
        std::memset(data, 0, command.bufferLengths[1]);
        PutIdentifyText(data + 20, 20, drive.serial, true);
        PutIdentifyText(data + 46, 8, drive.revision, true);
        PutIdentifyText(data + 54, 40, drive.model, true);
        data[2 * 234] = 1;
        data[2 * 235] = static_cast<std::uint8_t>(drive.maxDownloadBlocks & 0xFF);
        data[2 * 235 + 1] = static_cast<std::uint8_t>(drive.maxDownloadBlocks >> 8);
        block.outStatus = 0x50;
        return CvSetNoError(&error);
    }
    if (block.command != kAtaDownload && block.command != kAtaDownloadDma)
        return CvSetError(&error, CV_ERROR_NOT_SUPPORTED, "Unexpected ATA command 0x%X", block.command);
    if (drive.failCalls)
        return CvSetError(&error, CV_ERROR_FAILED, "ATA_PASS_THROUGH ioctl failed: %d", 5);
    const bool activation = block.features == 0x0F;
    const bool refused = activation ? Refuse(drive.refuseActivations, drive.refuseAllActivations)
                                    : Refuse(drive.refuseDownloads, drive.refuseAllDownloads);
    if (refused) {
        block.outStatus = 0x51;
        block.outError = drive.ataError;
        block.outCount = 0;
        block.outLbaLow = 0;
    } else {
        block.outStatus = 0x50;
        block.outError = 0;
        block.outCount = 1;
        if (activation || block.features == 0x03)
            TakeFirmware(drive);
    }
    return CvSetNoError(&error);
}

int Scsi(DownloadDrive& drive, CvCommand& command, CvError& error)
{
    auto& block = *static_cast<ScsiCommandBlock*>(command.buffers[0]);
    block.status = 0;
    if (drive.unitAttentions > 0 && !drive.failCalls) {
        --drive.unitAttentions;
        block.status = 0x02;
        block.senseLength = 18;
        block.sense[0] = 0x70;
        block.sense[2] = 0x06;   // UNIT ATTENTION
        block.sense[12] = 0x29;  // power on or reset occurred
        return CvSetNoError(&error);
    }
    if (block.cdb[0] == kScsiInquiry) {
        if (drive.failIdentify) {
            block.status = 0xFF;
            return CvSetError(&error, CV_ERROR_FAILED, "Device is unavailable");
        }
        auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
        std::memset(data, 0, command.bufferLengths[1]);
        const std::size_t space = drive.model.find(' ');
        const std::string vendor = drive.model.substr(0, space);
        const std::string product = space == std::string::npos ? "" : drive.model.substr(space + 1);
        if ((block.cdb[1] & 1) == 0) {
            PutIdentifyText(data + 8, 8, vendor, false);
            PutIdentifyText(data + 16, 16, product, false);
            PutIdentifyText(data + 32, 4, drive.revision, false);
        } else if (block.cdb[2] == 0x80) {
            PutIdentifyText(data + 4, 20, drive.serial, false);
        }
        return CvSetNoError(&error);
    }
    if (block.cdb[0] != kScsiWriteBuffer)
        return CvSetError(&error, CV_ERROR_NOT_SUPPORTED, "Unexpected SCSI command 0x%X", block.cdb[0]);
    if (drive.failCalls) {
        block.status = 0xFF;
        return CvSetError(&error, CV_ERROR_FAILED, "Device is unavailable");
    }
    const bool activation = (block.cdb[1] & 0x1F) == 0x0F;
    const bool refused = activation ? Refuse(drive.refuseActivations, drive.refuseAllActivations)
                                    : Refuse(drive.refuseDownloads, drive.refuseAllDownloads);
    if (refused) {
        block.status = drive.scsiStatus;
        block.senseLength = 3;
        block.sense[0] = 0x70;
        block.sense[1] = 0x00;
        block.sense[2] = 0x05;
    } else if (activation || (block.cdb[1] & 0x1F) == 0x07) {
        TakeFirmware(drive);
    }
    return CvSetNoError(&error);
}

int Nvme(DownloadDrive& drive, CvCommand& command, CvError& error)
{
    if (command.function == NVME_DEVICE_FUNCTION_CONTROLLER_RESET) {
        if (drive.failReset)
            return CvSetError(&error, CV_ERROR_FAILED, "Controller reset failed");
        return CvSetNoError(&error);
    }
    auto& block = *static_cast<NvmeCommandBlock*>(command.buffers[0]);
    block.completion = {};
    block.completion.statusField = NVME_PHASE_TAG;
    switch (block.submission.opcode) {
    case NVME_ADMIN_IDENTIFY: {
        if (drive.failIdentify)
            return CvSetError(&error, CV_ERROR_FAILED, "Identify refused");
        auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
        std::memset(data, 0, command.bufferLengths[1]);
        if (block.submission.cdw10 == 1) {
            PutIdentifyText(data + 4, 20, drive.serial, false);
            PutIdentifyText(data + 24, 40, drive.model, false);
            PutIdentifyText(data + 64, 8, drive.revision, false);
            data[256] = drive.nvmeFirmwareUpdate == 0 ? 0 : 0x04;
            data[260] = drive.nvmeFirmwareUpdate;
        }
        return CvSetNoError(&error);
    }
    case NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD:
    case NVME_ADMIN_FIRMWARE_COMMIT: {
        if (drive.failCalls)
            return CvSetError(&error, CV_ERROR_FAILED, "NVMe admin command failed");
        const bool commit = block.submission.opcode == NVME_ADMIN_FIRMWARE_COMMIT;
        const bool refused = commit ? Refuse(drive.refuseActivations, drive.refuseAllActivations)
                                    : Refuse(drive.refuseDownloads, drive.refuseAllDownloads);
        if (refused)
            block.completion.statusField = drive.nvmeStatusField;
        else if (commit)
            TakeFirmware(drive);
        return CvSetNoError(&error);
    }
    default:
        return CvSetError(&error, CV_ERROR_NOT_SUPPORTED, "Unexpected NVMe opcode 0x%X", block.submission.opcode);
    }
}

bool CarriesDataOut(const DownloadDrive& drive, const CvCommand& command)
{
    if (command.buffers[0] == nullptr || command.bufferLengths[1] == 0)
        return false;
    switch (drive.kind) {
    case BusKind::Ata: {
        const auto& block = *static_cast<const AtaCommandBlock*>(command.buffers[0]);
        return command.function == DEVICE_FUNCTION_DO_COMMAND && AtaProtocol_IsDataOut(block.protocol);
    }
    case BusKind::Scsi: {
        const auto& block = *static_cast<const ScsiCommandBlock*>(command.buffers[0]);
        return command.function == DEVICE_FUNCTION_DO_COMMAND && block.direction == SCSI_DIRECTION_OUT;
    }
    case BusKind::Nvme: {
        const auto& block = *static_cast<const NvmeCommandBlock*>(command.buffers[0]);
        return block.submission.opcode == NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD;
    }
    }
    return false;
}

int FakeResourceList(CvUID, CvUIDList*, CvError* error)
{
    return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "not used by downloads");
}

int FakeServiceList(CvUID, CvUID, CvUIDList*, CvError* error)
{
    return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "not used by downloads");
}

int FakeServiceInfo(CvUID, CvUID, CvUID, CvServiceInfo*, CvError* error)
{
    return CvSetError(error, CV_ERROR_NOT_SUPPORTED, "not used by downloads");
}

int FakeExecute(CvUID machine, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    if (machine != kFakeMachine)
        return CvSetError(error, CV_ERROR_NOT_FOUND, "No machine with UID %u", machine);
    return g_fake->Execute(resource, service, *command, *error);
}

void FakeSleep(std::uint32_t milliseconds)
{
    g_fake->Sleep(milliseconds);
}

constexpr FrameworkCalls kDownloadCalls = {FakeResourceList, FakeServiceList, FakeServiceInfo, FakeExecute,
                                           FakeSleep};

}  // namespace

DownloadFake::DownloadFake() : scope_(kDownloadCalls)
{
    if (g_fake != nullptr)
        throw std::logic_error("one download fake at a time");
    g_fake = this;
}

DownloadFake::~DownloadFake()
{
    g_fake = nullptr;
}

void DownloadFake::Attach(AccessPath path, DownloadDrive& drive)
{
    drives_[{path.resource, path.service}] = &drive;
}

std::vector<SentCommand> DownloadFake::FirmwareCommands() const
{
    std::vector<SentCommand> out;
    for (const SentCommand& sent : sent_) {
        const auto found = drives_.find({sent.resource, sent.service});
        if (found == drives_.end())
            continue;
        bool firmware = false;
        switch (found->second->kind) {
        case BusKind::Ata: {
            const auto block = sent.As<AtaCommandBlock>();
            firmware = sent.function == DEVICE_FUNCTION_DO_COMMAND &&
                       (block.command == kAtaDownload || block.command == kAtaDownloadDma);
            break;
        }
        case BusKind::Scsi:
            firmware = sent.function == DEVICE_FUNCTION_DO_COMMAND &&
                       sent.As<ScsiCommandBlock>().cdb[0] == kScsiWriteBuffer;
            break;
        case BusKind::Nvme: {
            const std::uint8_t opcode = sent.As<NvmeCommandBlock>().submission.opcode;
            firmware = sent.function == NVME_DEVICE_FUNCTION_CONTROLLER_RESET ||
                       opcode == NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD || opcode == NVME_ADMIN_FIRMWARE_COMMIT;
            break;
        }
        }
        if (firmware)
            out.push_back(sent);
    }
    return out;
}

int DownloadFake::Execute(CvUID resource, CvUID service, CvCommand& command, CvError& error)
{
    const auto found = drives_.find({resource, service});
    SentCommand sent;
    sent.resource = resource;
    sent.service = service;
    sent.function = command.function;
    sent.tag = command.tag;
    if (command.buffers[0] != nullptr) {
        const auto* block = static_cast<const std::uint8_t*>(command.buffers[0]);
        sent.block.assign(block, block + command.bufferLengths[0]);
    }
    sent.data = static_cast<const std::uint8_t*>(command.buffers[1]);
    sent.dataLength = command.bufferLengths[1];
    if (found != drives_.end() && CarriesDataOut(*found->second, command))
        sent.dataSent.assign(sent.data, sent.data + sent.dataLength);
    sent_.push_back(std::move(sent));

    if (found == drives_.end())
        return CvSetError(&error, CV_ERROR_NOT_FOUND, "No service %u on resource %u", service, resource);
    DownloadDrive& drive = *found->second;
    if (command.function == DEVICE_FUNCTION_GET_ABILITY_COUNT || command.function == DEVICE_FUNCTION_GET_ABILITY) {
        if (drive.kind != BusKind::Nvme)
            return Abilities(drive, command, error);
        // An NVMe service that reports no abilities, as before they existed.
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command.function);
    }
    switch (drive.kind) {
    case BusKind::Ata:
        return Ata(drive, command, error);
    case BusKind::Scsi:
        return Scsi(drive, command, error);
    case BusKind::Nvme:
        return Nvme(drive, command, error);
    }
    return 0;
}

void FillDriveTable(DriveTable& table, const std::vector<TableRow>& rows)
{
    table.count = static_cast<std::uint32_t>(rows.size());
    table.machine = kFakeMachine;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        DriveEntry& entry = table.rows[i];
        const TableRow& row = rows[i];
        entry.marks = row.kind == BusKind::Ata ? kMarkAta : row.kind == BusKind::Scsi ? kMarkScsi : kMarkNvme;
        entry.pathCount = static_cast<std::uint32_t>(row.paths.size());
        for (std::size_t j = 0; j < row.paths.size(); ++j)
            entry.paths[j] = row.paths[j];
        entry.identity = DriveIdentity{};
        if (row.drive != nullptr) {
            const DownloadDrive& drive = *row.drive;
            std::snprintf(entry.identity.model, sizeof entry.identity.model, "%s", drive.model.c_str());
            std::snprintf(entry.identity.serialNumber, sizeof entry.identity.serialNumber, "%s",
                          drive.serial.c_str());
            std::snprintf(entry.identity.firmwareRevision, sizeof entry.identity.firmwareRevision, "%s",
                          drive.revision.c_str());
            entry.identity.maxDownloadBlocks = row.kind == BusKind::Ata ? drive.maxDownloadBlocks
                                               : row.kind == BusKind::Scsi ? 32 : 8;
            entry.identity.minDownloadBlocks = 1;
            if (row.kind == BusKind::Nvme)
                entry.identity.firmwareUpdate = drive.nvmeFirmwareUpdate;
        }
    }
}

}  // namespace firmstep::test
