// "ata/device" on a SATA end device: commands travel as STP pass-through with
// a host-to-device register FIS, and the device's status FIS comes back as the
// block's output registers.
#include <cerrno>
#include <cstring>

#include "csmi_records.h"
#include "csmi_request.h"

namespace csmi {

namespace {

constexpr uint32_t kSectorSize = 512;
// A SATA device that does not implement vendor command 80h can make the driver
// fail the request with EIO (a device that is not functioning) although its
// registers came back; such a command still reports them.
constexpr uint8_t kVendorCommand = 0x80;
constexpr int kDeviceNotFunctioning = EIO;

struct FisRegister {
    uint32_t mask;
    std::size_t blockOffset;
    std::size_t fisOffset;
};

// Register mask bit, AtaCommandBlock input byte, command FIS byte.
constexpr FisRegister kFisRegisters[] = {
    {ATA_REG_COMMAND, offsetof(AtaCommandBlock, command), 2},
    {ATA_REG_FEATURES, offsetof(AtaCommandBlock, features), 3},
    {ATA_REG_LBA_LOW, offsetof(AtaCommandBlock, lbaLow), 4},
    {ATA_REG_LBA_MID, offsetof(AtaCommandBlock, lbaMid), 5},
    {ATA_REG_LBA_HIGH, offsetof(AtaCommandBlock, lbaHigh), 6},
    {ATA_REG_DEVICE, offsetof(AtaCommandBlock, device), 7},
    {ATA_REG_LBA_LOW_EXP, offsetof(AtaCommandBlock, lbaLowExp), 8},
    {ATA_REG_LBA_MID_EXP, offsetof(AtaCommandBlock, lbaMidExp), 9},
    {ATA_REG_LBA_HIGH_EXP, offsetof(AtaCommandBlock, lbaHighExp), 10},
    {ATA_REG_FEATURES_EXP, offsetof(AtaCommandBlock, featuresExp), 11},
    {ATA_REG_COUNT, offsetof(AtaCommandBlock, count), 12},
    {ATA_REG_COUNT_EXP, offsetof(AtaCommandBlock, countExp), 13},
    {ATA_REG_ICC, offsetof(AtaCommandBlock, icc), 14},
    {ATA_REG_AUX_0, offsetof(AtaCommandBlock, aux) + 0, 16},
    {ATA_REG_AUX_1, offsetof(AtaCommandBlock, aux) + 1, 17},
    {ATA_REG_AUX_2, offsetof(AtaCommandBlock, aux) + 2, 18},
    {ATA_REG_AUX_3, offsetof(AtaCommandBlock, aux) + 3, 19},
};

// Status FIS byte, AtaCommandBlock output byte. Bytes 11 and 12 fill the two
// outputs after the error; the second of them is the count.
constexpr std::pair<std::size_t, std::size_t> kStatusRegisters[] = {
    {2, offsetof(AtaCommandBlock, outStatus)},     {3, offsetof(AtaCommandBlock, outError)},
    {4, offsetof(AtaCommandBlock, outLbaLow)},     {5, offsetof(AtaCommandBlock, outLbaMid)},
    {6, offsetof(AtaCommandBlock, outLbaHigh)},    {7, offsetof(AtaCommandBlock, outDevice)},
    {8, offsetof(AtaCommandBlock, outLbaLowExp)},  {9, offsetof(AtaCommandBlock, outLbaMidExp)},
    {10, offsetof(AtaCommandBlock, outLbaHighExp)}, {11, offsetof(AtaCommandBlock, outErrorExp)},
    {12, offsetof(AtaCommandBlock, outCount)},     {13, offsetof(AtaCommandBlock, outCountExp)},
};

bool stpFlags(uint8_t protocol, uint32_t& flags) {
    switch (protocol) {
    case ATA_PROTOCOL_NON_DATA:
    case ATA_PROTOCOL_NON_DATA_EXT: flags = CSMI_STP_NO_DATA; return true;
    case ATA_PROTOCOL_PIO_IN:
    case ATA_PROTOCOL_PIO_IN_EXT: flags = CSMI_STP_PIO_READ; return true;
    case ATA_PROTOCOL_PIO_OUT:
    case ATA_PROTOCOL_PIO_OUT_EXT: flags = CSMI_STP_PIO_WRITE; return true;
    case ATA_PROTOCOL_DMA_IN:
    case ATA_PROTOCOL_DMA_IN_EXT: flags = CSMI_STP_DMA_READ; return true;
    case ATA_PROTOCOL_DMA_OUT:
    case ATA_PROTOCOL_DMA_OUT_EXT: flags = CSMI_STP_DMA_WRITE; return true;
    default: return false;
    }
}

// Phy, port and destination of a request to this device.
void address(const Device& device, CsmiStpBuffer& stp) {
    stp.phyIdentifier = device.phyIdentifier;
    stp.portIdentifier = device.portIdentifier;
    stp.connectionRate = 0;
    std::memcpy(stp.destinationSasAddress, device.sasAddress.data(), sizeof stp.destinationSasAddress);
}

void buildCommandFis(const AtaCommandBlock& block, uint8_t* fis) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
    fis[0] = CSMI_FIS_TYPE_H2D;
    fis[1] = CSMI_FIS_COMMAND_BIT;
    // An expanded register belongs to 48-bit commands only; a 28-bit command
    // never carries one, whatever its mask says.
    const uint32_t mask = AtaProtocol_Is48Bit(block.protocol) ? block.inputMask
                                                               : block.inputMask & ~ATA_REG_EXPANDED_SET;
    for (const FisRegister& reg : kFisRegisters) {
        if ((mask & reg.mask) != 0) fis[reg.fisOffset] = bytes[reg.blockOffset];
    }
}

void readStatusFis(const uint8_t* fis, AtaCommandBlock& block) {
    auto* bytes = reinterpret_cast<uint8_t*>(&block);
    for (const auto& [fisOffset, blockOffset] : kStatusRegisters) bytes[blockOffset] = fis[fisOffset];
    if ((block.outStatus & ATA_STATUS_DRQ) != 0) block.conditionFlags = ATA_CONDITION_DRQ;
}

int doAtaCommand(Device& device, CvCommand* command, CvError* error) {
    auto& block = *static_cast<AtaCommandBlock*>(command->buffers[0]);
    const uint32_t length = command->bufferLengths[1];
    auto* data = static_cast<uint8_t*>(command->buffers[1]);
    std::vector<uint8_t> buffer = makeRequest(CSMI_STP_BUFFER_SIZE(length), CSMI_CC_STP_PASSTHRU);
    {
        std::lock_guard lock(device.mutex);
        if ((block.options & ATA_OPTION_OFFLINE) != 0)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
        if (length % kSectorSize != 0)
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Transfer size is not a multiple of 512 bytes, found %u",
                              length);
        CsmiStpBuffer stp{};
        std::memcpy(&stp, buffer.data(), sizeof stp);
        if (!stpFlags(block.protocol, stp.flags))
            return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported protocol encountered: %d", block.protocol);
        const bool moves = stp.flags != CSMI_STP_NO_DATA;
        stp.dataLength = moves ? length : 0;
        if (moves && AtaProtocol_IsDataOut(block.protocol) && length != 0)
            std::memcpy(buffer.data() + CSMI_STP_DATA_OFFSET, data, length);
        address(device, stp);
        buildCommandFis(block, stp.commandFis);
        std::memcpy(buffer.data(), &stp, sizeof stp);
    }
    uint64_t durationNs = 0;
    const int systemError = sendRequest(device.adapter->fd, buffer, durationNs);
    block.resultFlags |= ATA_RESULT_DURATION_VALID;
    block.timeOrTimeout = durationNs;
    const bool registersCameBack = systemError == kDeviceNotFunctioning && block.command == kVendorCommand &&
                                   (block.inputMask & ATA_REG_COMMAND) != 0;
    if (systemError != 0 && !registersCameBack)
        return CvSetError(error, CV_ERROR_FAILED, "IOCTL_SCSI_MINIPORT ioctl failed: %d", systemError);

    CsmiStpBuffer answer{};
    std::memcpy(&answer, buffer.data(), sizeof answer);
    if (AtaProtocol_IsDataIn(block.protocol) && length != 0)
        std::memcpy(data, buffer.data() + CSMI_STP_DATA_OFFSET, length);
    readStatusFis(answer.statusFis, block);
    block.resultFlags |= ATA_RESULT_REGISTERS_VALID;
    if (answer.header.returnCode != CSMI_STATUS_SUCCESS)
        return CvSetError(error, CV_ERROR_FAILED, "CSMI call failed while doing ATA command: %d",
                          static_cast<int>(answer.header.returnCode));
    return CvSetNoError(error);
}

int resetDrive(Device& device, CvCommand* command, CvError* error) {
    auto& block = *static_cast<AtaCommandBlock*>(command->buffers[0]);
    std::vector<uint8_t> buffer = makeRequest(CSMI_STP_RESET_BUFFER_SIZE, CSMI_CC_STP_PASSTHRU);
    {
        std::lock_guard lock(device.mutex);
        CsmiStpBuffer stp{};
        std::memcpy(&stp, buffer.data(), sizeof stp);
        address(device, stp);
        stp.commandFis[0] = CSMI_FIS_TYPE_H2D;
        stp.flags = CSMI_STP_RESET_DEVICE;
        std::memcpy(buffer.data(), &stp, sizeof stp);
    }
    uint64_t durationNs = 0;
    const int systemError = sendRequest(device.adapter->fd, buffer, durationNs);
    block.resultFlags |= ATA_RESULT_DURATION_VALID;
    block.timeOrTimeout = durationNs;
    if (systemError != 0)
        return CvSetError(error, CV_ERROR_FAILED, "IOCTL_SCSI_MINIPORT ioctl failed: %d", systemError);
    const CsmiHeader header = headerOf(buffer);
    if (header.returnCode != CSMI_STATUS_SUCCESS)
        return CvSetError(error, CV_ERROR_FAILED, "CSMI call failed while reseting drive: %d",
                          static_cast<int>(header.returnCode));
    return CvSetNoError(error);
}

}  // namespace

int executeAta(Device& device, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&device.ataRules, command, kAtaAbilityCount, error)) return 0;
    switch (command->function) {
    case DEVICE_FUNCTION_DO_COMMAND: return doAtaCommand(device, command, error);
    case ATA_DEVICE_FUNCTION_RESET: return resetDrive(device, command, error);
    default: {
        const QueryAnswers answers{"ATA", ATA_CAPABILITY_RESET, kAtaAbilityCount,
                                   reinterpret_cast<const uint8_t*>(device.ataAbilities.data()), ATA_ABILITY_SIZE};
        return answerQuery(device, command, answers, error);
    }
    }
}

}  // namespace csmi
