// The "ata/device" and "scsi/device" services of a drive behind arcshim.
#include "adaptec_device.h"

#include <cstring>

#include "arcshim/arcshim.h"

namespace adaptec {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kAtaTransfer = 130560;
constexpr uint64_t kMaxLba28 = 0x0FFFFFFFull;
constexpr uint64_t kMaxLba48 = 0xFFFFFFFFFFFFull;
constexpr uint16_t kMask28 = 0x0AAB;
constexpr uint16_t kMask48 = 0x0FFB;
constexpr uint32_t kScsiGenericTransfer = 524288;
constexpr uint32_t kScsiOperationTransfer = 32768;
constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kSatNonData = 3, kSatPioIn = 4, kSatPioOut = 5, kSatDma = 6;
constexpr uint8_t kFromDeviceBlocks = 0x0E;  // T_DIR 1, BYT_BLOK 1, T_LENGTH 2
constexpr uint8_t kToDeviceBlocks = 0x06;    // T_DIR 0, BYT_BLOK 1, T_LENGTH 2

struct SatForm {
    uint8_t protocol;
    uint8_t byte2;
    int direction;
};

bool satForm(uint8_t protocol, SatForm& form) {
    switch (protocol) {
    case ATA_PROTOCOL_NON_DATA:
    case ATA_PROTOCOL_NON_DATA_EXT: form = {kSatNonData, 0, ARCSHIM_NO_DATA}; return true;
    case ATA_PROTOCOL_PIO_IN:
    case ATA_PROTOCOL_PIO_IN_EXT: form = {kSatPioIn, kFromDeviceBlocks, ARCSHIM_DATA_FROM_DRIVE}; return true;
    case ATA_PROTOCOL_PIO_OUT:
    case ATA_PROTOCOL_PIO_OUT_EXT: form = {kSatPioOut, kToDeviceBlocks, ARCSHIM_DATA_TO_DRIVE}; return true;
    case ATA_PROTOCOL_DMA_IN:
    case ATA_PROTOCOL_DMA_IN_EXT: form = {kSatDma, kFromDeviceBlocks, ARCSHIM_DATA_FROM_DRIVE}; return true;
    case ATA_PROTOCOL_DMA_OUT:
    case ATA_PROTOCOL_DMA_OUT_EXT: form = {kSatDma, kToDeviceBlocks, ARCSHIM_DATA_TO_DRIVE}; return true;
    default: return false;
    }
}

int refuse(const char* which, CvError* error) { return CvSetError(error, CV_ERROR_FAILED, "%s", which); }

int passThru(const Device& device, const uint8_t* cdb, int cdbLength, CvCommand* command, int direction,
             CvError* error) {
    const int result = adaptec_scsiPassThruCommand(device.index, cdb, cdbLength,
                                                   static_cast<uint8_t*>(command->buffers[1]),
                                                   command->bufferLengths[1], direction);
    if (result != 0) return CvSetError(error, CV_ERROR_FAILED, "adaptec scsi passthru failed, returned %d", result);
    return CvSetNoError(error);
}

// Functions 0 to 5, the same on both service types but for the abilities.
int answerQuery(CvCommand* command, const char* kind, const void* abilities, std::size_t abilitySize,
                int32_t count, CvError* error) {
    switch (command->function) {
    case DEVICE_FUNCTION_GET_CAPABILITIES:
    case DEVICE_FUNCTION_GET_SETTINGS_SUPPORT: std::memset(command->buffers[0], 0, 4); return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_SETTING:
    case DEVICE_FUNCTION_SET_SETTING:
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported %s setting to %s: %d", kind,
                          command->function == DEVICE_FUNCTION_GET_SETTING ? "get" : "set",
                          static_cast<const DeviceSetting*>(command->buffers[0])->identifier);
    case DEVICE_FUNCTION_GET_ABILITY_COUNT:
        std::memcpy(command->buffers[0], &count, sizeof count);
        return CvSetNoError(error);
    case DEVICE_FUNCTION_GET_ABILITY:
        std::memcpy(command->buffers[1],
                    static_cast<const uint8_t*>(abilities) +
                        static_cast<std::size_t>(DeviceContract_AbilityIndex(command)) * abilitySize,
                    abilitySize);
        return CvSetNoError(error);
    default: return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    }
}

}  // namespace

Device::Device(uint32_t driveIndex) : index(driveIndex) {
    static constexpr uint8_t kProtocols[kAtaAbilityCount] = {0, 1, 2, 3, 4, 5, 10, 11, 12, 13};
    for (int32_t i = 0; i < kAtaAbilityCount; ++i) {
        AtaAbility& ability = ataAbilities[static_cast<std::size_t>(i)];
        const uint8_t protocol = kProtocols[i];
        const bool wide = AtaProtocol_Is48Bit(protocol);
        ability.identifier = protocol;
        ability.maxTransferBytes = protocol <= ATA_PROTOCOL_NON_DATA_EXT ? 0 : kAtaTransfer;
        ability.minLbaCount = 1;
        ability.maxLba = wide ? kMaxLba48 : kMaxLba28;
        ability.writableRegisters = ability.returnedRegisters = wide ? kMask48 : kMask28;
    }
    DeviceContract_FillScsiAbilities(scsiAbilities.data(), kScsiGenericTransfer, kScsiOperationTransfer);
    DeviceContract_InitRules(&ataRules, DEVICE_CONTRACT_ATA);
    DeviceContract_InitRules(&scsiRules, DEVICE_CONTRACT_SCSI);
    // Reset, tag identifiers and task management fetching are unknown here;
    // functions 8 to 12 are answered with their own refusals, whatever buffer 0 holds.
    for (uint8_t code : {SCSI_DEVICE_FUNCTION_RESET, SCSI_DEVICE_FUNCTION_TAG_IDS,
                         SCSI_DEVICE_FUNCTION_FETCH_TASK_MANAGEMENT})
        DeviceContract_SetFunction(&scsiRules, code, 0, DEVICE_LENGTH_UNCHECKED, nullptr);
    for (uint8_t code = SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT; code <= SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS;
         ++code)
        DeviceContract_SetFunction(&scsiRules, code, 1, DEVICE_LENGTH_UNCHECKED, "");
}

bool buildAtaCdb(const AtaCommandBlock& block, uint32_t length, uint8_t (&cdb)[16], int& direction, CvError* error) {
    std::memset(cdb, 0, sizeof cdb);
    if ((block.options & ATA_OPTION_OFFLINE) != 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Offline flag not supported") != 0;
    if (length % kSectorSize != 0)
        return CvSetError(error, CV_ERROR_INVALID_INPUT,
                          "Adaptec plugin only supports transfers that are a multiple of the sector size (512), "
                          "found %d",
                          static_cast<int>(length)) != 0;
    SatForm form{};
    if (!satForm(block.protocol, form))
        return CvSetError(error, CV_ERROR_INVALID_INPUT, "Unsupported protocol encountered: %d", block.protocol) != 0;
    const bool wide = AtaProtocol_Is48Bit(block.protocol);
    cdb[0] = kAtaPassThrough16;
    cdb[1] = static_cast<uint8_t>(form.protocol << 1 | (wide ? 1 : 0));
    cdb[2] = form.byte2;
    cdb[6] = static_cast<uint8_t>(length / kSectorSize);
    const uint32_t mask = block.inputMask;
    auto put = [&](uint32_t bit, std::size_t at, uint8_t value) {
        if ((mask & bit) != 0) cdb[at] = value;
    };
    put(ATA_REG_DEVICE, 13, block.device);
    put(ATA_REG_COMMAND, 14, block.command);
    put(ATA_REG_FEATURES, 4, block.features);
    put(ATA_REG_COUNT, 6, block.count);
    put(ATA_REG_LBA_LOW, 8, block.lbaLow);
    put(ATA_REG_LBA_MID, 10, block.lbaMid);
    put(ATA_REG_LBA_HIGH, 12, block.lbaHigh);
    if (wide) {
        put(ATA_REG_FEATURES_EXP, 3, block.featuresExp);
        put(ATA_REG_COUNT_EXP, 5, block.countExp);
        put(ATA_REG_LBA_LOW_EXP, 7, block.lbaLowExp);
        put(ATA_REG_LBA_MID_EXP, 9, block.lbaMidExp);
        put(ATA_REG_LBA_HIGH_EXP, 11, block.lbaHighExp);
    }
    direction = form.direction;
    return true;
}

bool answersAta(uint32_t driveIndex) {
    static constexpr uint8_t kIdentify[16] = {kAtaPassThrough16, kSatPioIn << 1, kFromDeviceBlocks, 0, 0, 0, 1, 0,
                                              0, 0, 0, 0, 0, 0, 0xEC, 0};
    uint8_t data[512] = {};
    return adaptec_scsiPassThruCommand(driveIndex, kIdentify, sizeof kIdentify, data, sizeof data,
                                       ARCSHIM_DATA_FROM_DRIVE) == 0;
}

int executeAta(Device& device, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&device.ataRules, command, kAtaAbilityCount, error)) return 0;
    if (command->function != DEVICE_FUNCTION_DO_COMMAND)
        return answerQuery(command, "ATA", device.ataAbilities.data(), ATA_ABILITY_SIZE, kAtaAbilityCount, error);
    const auto& block = *static_cast<const AtaCommandBlock*>(command->buffers[0]);
    uint8_t cdb[16];
    int direction = ARCSHIM_NO_DATA;
    if (!buildAtaCdb(block, command->bufferLengths[1], cdb, direction, error)) return 0;
    return passThru(device, cdb, sizeof cdb, command, direction, error);
}

int executeScsi(Device& device, CvCommand* command, CvError* error) {
    if (!DeviceContract_CheckCommand(&device.scsiRules, command, DEVICE_SCSI_ABILITY_COUNT, error)) return 0;
    switch (command->function) {
    case SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT:
        return refuse("Get task management not supported", error);
    case SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT: return refuse("Do task management not supported", error);
    case SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE: return refuse("Send primitive not supported", error);
    case SCSI_DEVICE_FUNCTION_GET_TOPOLOGY: return refuse("Get topology not supported", error);
    case SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS: return refuse("Get SAS address not supported", error);
    case DEVICE_FUNCTION_DO_COMMAND: break;
    default:
        return answerQuery(command, "SCSI", device.scsiAbilities.data(), SCSI_ABILITY_SIZE, DEVICE_SCSI_ABILITY_COUNT,
                           error);
    }
    auto& block = *static_cast<ScsiCommandBlock*>(command->buffers[0]);
    if (block.cdbLength > 16) return CvSetError(error, CV_ERROR_INVALID_INPUT, "CDB too large: %d", block.cdbLength);
    int direction = ARCSHIM_NO_DATA;
    switch (block.direction) {
    case SCSI_DIRECTION_NONE: direction = ARCSHIM_NO_DATA; break;
    case SCSI_DIRECTION_IN: direction = ARCSHIM_DATA_FROM_DRIVE; break;
    case SCSI_DIRECTION_OUT: direction = ARCSHIM_DATA_TO_DRIVE; break;
    case SCSI_DIRECTION_BIDIRECTIONAL:
        return CvSetError(error, CV_ERROR_FAILED, "Adaptec plugin does not support this protocol");
    default: return CvSetError(error, CV_ERROR_FAILED, "Protocol not recognized");
    }
    if (!passThru(device, block.cdb, block.cdbLength, command, direction, error)) return 0;
    // The drive completed the command with GOOD status; the SDK reports
    // nothing else, so there is no sense to return.
    block.status = 0;
    block.senseLength = 0;
    return 1;
}

}  // namespace adaptec
