#include "drive_identity.h"

#include "framework_calls.h"
#include "identity_decode.h"
#include "nvme_admin.h"
#include "scsi_command.h"

#include <device_contracts.h>

#include <memory>

namespace firmstep {
namespace {

constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
constexpr std::uint8_t kScsiInquiry = 0x12;
constexpr std::uint64_t kNvmeIdentifyTimeoutNs = 15000000000ull;

template <std::size_t N>
int Inquiry(CvUID machine, AccessPath path, bool vitalProductData, std::uint8_t page, std::uint8_t (&data)[N],
            CvError& error)
{
    static_assert(N <= 0xFFFF);
    ScsiCommandBlock block{};
    block.direction = SCSI_DIRECTION_IN;
    block.cdbLength = 6;
    block.cdb[0] = kScsiInquiry;
    block.cdb[1] = vitalProductData ? 1 : 0;
    block.cdb[2] = page;
    block.cdb[3] = static_cast<std::uint8_t>(N >> 8);
    block.cdb[4] = static_cast<std::uint8_t>(N & 0xFF);
    block.cdb[5] = 0;
    if (!ExecuteScsiCommand(machine, path, block, data, N, false, error))
        return 0;
    // The data of a command the device did not perform would read as an
    // empty identity.
    if (ReportsUnitAttention(block))
        return CvSetError(&error, block.status, "INQUIRY failed; the device keeps reporting unit attention");
    return 1;
}

// Identify (0x06) with the given namespace and CNS value.
int NvmeIdentify(CvUID machine, AccessPath path, std::uint32_t namespaceId, std::uint32_t cns,
                 std::uint8_t (&data)[kNvmeIdentifySize], const char* failure, CvError& error)
{
    NvmeCommandBlock block{};
    block.submission.opcode = NVME_ADMIN_IDENTIFY;
    block.submission.namespaceId = namespaceId;
    block.submission.cdw10 = cns;
    block.timeout = kNvmeIdentifyTimeoutNs;
    if (!ExecuteNvmeAdmin(machine, path, block, data, kNvmeIdentifySize, error))
        return 0;
    if (NvmeCompletionFailed(block))
        return CvSetError(&error, NvmeStatusCode(block), "%s", failure);
    return 1;
}

}  // namespace

int ReadAtaIdentity(CvUID machine, AccessPath path, std::int32_t sdsbPort, DriveIdentity& identity,
                    CvError& error)
{
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_PIO_IN;
    block.count = 1;
    block.command = kAtaIdentifyDevice;
    block.inputMask = ATA_REG_COMMAND | ATA_REG_COUNT;
    block.outputMask = ATA_REG_SET_28BIT;
    block.timeOrTimeout = 0;
    if (sdsbPort == 1) {
        // The second port of a dual-port bridge answers as device 0xA2.
        block.device = 0xA2;
        block.inputMask |= ATA_REG_DEVICE;
    }
    std::uint8_t data[kAtaIdentifySize] = {};
    if (!ExecuteDeviceCommand(machine, path, &block, sizeof block, data, sizeof data, error))
        return 0;
    identity = DecodeAtaIdentify(data);
    return 1;
}

int ReadScsiIdentity(CvUID machine, AccessPath path, DriveIdentity& identity, CvError& error)
{
    std::uint8_t standard[kScsiStandardInquirySize] = {};
    std::uint8_t serialPage[kScsiSerialPageSize] = {};
    std::uint8_t deviceIdPage[kScsiDeviceIdPageSize] = {};
    if (!Inquiry(machine, path, false, 0x00, standard, error) ||
        !Inquiry(machine, path, true, 0x80, serialPage, error) ||
        !Inquiry(machine, path, true, 0x83, deviceIdPage, error))
        return 0;
    identity = DecodeScsiInquiry(standard, serialPage, deviceIdPage);
    return 1;
}

int ReadNvmeIdentity(CvUID machine, AccessPath path, DriveIdentity& identity, CvError& error)
{
    // 8 KiB of identify data: kept off the stack.
    struct IdentifyData {
        std::uint8_t controller[kNvmeIdentifySize];
        std::uint8_t namespaceData[kNvmeIdentifySize];
    };
    const auto data = std::make_unique<IdentifyData>();
    if (!NvmeIdentify(machine, path, 0, 1, data->controller, "identify controller failed", error) ||
        !NvmeIdentify(machine, path, 1, 0, data->namespaceData, "identify namespace failed", error))
        return 0;
    identity = DecodeNvmeIdentify(data->controller, data->namespaceData);
    return 1;
}

int ReadDriveIdentity(std::uint32_t typeMark, CvUID machine, AccessPath path, std::int32_t sdsbPort,
                      DriveIdentity& identity, CvError& error)
{
    switch (typeMark & kMarkTypes) {
    case kMarkAta:
        return ReadAtaIdentity(machine, path, sdsbPort, identity, error);
    case kMarkScsi:
        return ReadScsiIdentity(machine, path, identity, error);
    case kMarkNvme:
        return ReadNvmeIdentity(machine, path, identity, error);
    default:
        return CvSetError(&error, CV_ERROR_INVALID_INPUT, "Unknown drive type mark 0x%X", typeMark);
    }
}

}  // namespace firmstep
