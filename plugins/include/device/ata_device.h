/* The "ata/device" service contract: ATA taskfile commands carried in fixed
 * binary blocks. Buffer 0 of a command is the block of its function, buffer 1
 * the data; fields marked "out" are written by the server in place. */
#ifndef DEVICE_ATA_DEVICE_H
#define DEVICE_ATA_DEVICE_H

#include "device_common.h"

#define ATA_DEVICE_SERVICE_TYPE "ata/device"

/* Function codes beyond the common ones 0 to 6. */
#define ATA_DEVICE_FUNCTION_READ_TASKFILE 7 /* translating servers only; AtaTaskfileBlock */
#define ATA_DEVICE_FUNCTION_RESET 8         /* soft reset (SAT) or reset drive (CSMI) */

#define ATA_COMMAND_BLOCK_SIZE 51
#define ATA_TASKFILE_BLOCK_SIZE 37
#define ATA_ABILITY_SIZE 60

/* Capability bits (function 0). */
#define ATA_CAPABILITY_READ_TASKFILE 0x04u /* function 7 offered */
#define ATA_CAPABILITY_RESET 0x08u         /* function 8 offered */

/* AtaProtocol: byte 0 of AtaCommandBlock and the identifier of an AtaAbility.
 * Values 6 to 9 are reserved; servers refuse what they do not carry. */
#define ATA_PROTOCOL_NON_DATA 0
#define ATA_PROTOCOL_NON_DATA_EXT 1
#define ATA_PROTOCOL_PIO_IN 2
#define ATA_PROTOCOL_PIO_OUT 3
#define ATA_PROTOCOL_PIO_IN_EXT 4
#define ATA_PROTOCOL_PIO_OUT_EXT 5
#define ATA_PROTOCOL_DMA_IN 10
#define ATA_PROTOCOL_DMA_OUT 11
#define ATA_PROTOCOL_DMA_IN_EXT 12
#define ATA_PROTOCOL_DMA_OUT_EXT 13
#define ATA_PROTOCOL_SOFT_RESET 50 /* translating servers only */

/* RegisterMask: one bit per taskfile register. "Expanded" is the previous
 * (high-order) byte of a 48-bit register. */
#define ATA_REG_DEVICE 0x001u
#define ATA_REG_FEATURES 0x002u
#define ATA_REG_FEATURES_EXP 0x004u
#define ATA_REG_COUNT 0x008u
#define ATA_REG_COUNT_EXP 0x010u
#define ATA_REG_LBA_LOW 0x020u
#define ATA_REG_LBA_LOW_EXP 0x040u
#define ATA_REG_LBA_MID 0x080u
#define ATA_REG_LBA_MID_EXP 0x100u
#define ATA_REG_LBA_HIGH 0x200u
#define ATA_REG_LBA_HIGH_EXP 0x400u
#define ATA_REG_COMMAND 0x800u
/* The five extra input bytes at offsets 34 to 38; only the CSMI server carries them. */
#define ATA_REG_ICC 0x1000u
#define ATA_REG_AUX_0 0x2000u
#define ATA_REG_AUX_1 0x4000u
#define ATA_REG_AUX_2 0x8000u
#define ATA_REG_AUX_3 0x10000u
#define ATA_REG_SET_28BIT 0xAABu /* all but the expanded registers */
#define ATA_REG_SET_48BIT 0xFFFu
#define ATA_REG_EXPANDED_SET 0x554u

/* AtaCommandBlock.options */
#define ATA_OPTION_OFFLINE 0x01u
/* AtaCommandBlock.resultFlags */
#define ATA_RESULT_DURATION_VALID 0x01u
#define ATA_RESULT_REGISTERS_VALID 0x02u
/* AtaCommandBlock.conditionFlags: both bits set when the returned status has DRQ. */
#define ATA_CONDITION_DRQ 0x03u
#define ATA_STATUS_DRQ 0x08u

#pragma pack(push, 1)

/* Function 6, 'do ata command'. */
typedef struct AtaCommandBlock {
    uint8_t protocol;       /* in: AtaProtocol */
    uint8_t reserved1;
    uint8_t options;        /* in: ATA_OPTION_* */
    uint8_t resultFlags;    /* out: ATA_RESULT_*, cleared first by the server */
    uint32_t inputMask;     /* in: RegisterMask of input registers to write */
    uint32_t outputMask;    /* in: RegisterMask of output registers wanted */
    uint64_t timeOrTimeout; /* in: time-out wanted (ns); out: duration of the command (ns) */
    uint8_t conditionFlags; /* out: ATA_CONDITION_DRQ, cleared first by the server */
    uint8_t reserved21;
    /* Input registers. */
    uint8_t device;
    uint8_t features;
    uint8_t featuresExp;
    uint8_t count;
    uint8_t countExp;
    uint8_t lbaLow;
    uint8_t lbaLowExp;
    uint8_t lbaMid;
    uint8_t lbaMidExp;
    uint8_t lbaHigh;
    uint8_t lbaHighExp;
    uint8_t command;
    uint8_t icc;        /* isochronous command completion byte (ATA_REG_ICC) */
    uint8_t aux[4];     /* auxiliary bytes, lowest first (ATA_REG_AUX_0 ...) */
    /* Output registers. */
    uint8_t outDevice;
    uint8_t outError;
    uint8_t outErrorExp;
    uint8_t outCount;
    uint8_t outCountExp;
    uint8_t outLbaLow;
    uint8_t outLbaLowExp;
    uint8_t outLbaMid;
    uint8_t outLbaMidExp;
    uint8_t outLbaHigh;
    uint8_t outLbaHighExp;
    uint8_t outStatus;
} AtaCommandBlock;

/* Function 5 on "ata/device": one ability (buffer 1), selected by the index in buffer 0. */
typedef struct AtaAbility {
    uint8_t reserved0;
    uint8_t identifier;         /* the AtaProtocol it describes */
    uint16_t reserved2;
    uint32_t maxTransferBytes;  /* largest data transfer of one command; 0: no data */
    uint8_t reserved8[32];
    uint64_t minLbaCount;       /* 1 */
    uint64_t maxLba;            /* largest addressable LBA */
    uint16_t writableRegisters; /* RegisterMask */
    uint16_t returnedRegisters; /* RegisterMask */
} AtaAbility;

/* Function 7 (translating servers): the device's current taskfile read back
 * without a command, laid out like the output registers of AtaCommandBlock. */
typedef struct AtaTaskfileBlock {
    uint32_t cleared; /* cleared by the server */
    uint8_t reserved4[21];
    uint8_t device;
    uint8_t error;
    uint8_t errorExp;
    uint8_t count;
    uint8_t countExp;
    uint8_t lbaLow;
    uint8_t lbaLowExp;
    uint8_t lbaMid;
    uint8_t lbaMidExp;
    uint8_t lbaHigh;
    uint8_t lbaHighExp;
    uint8_t status;
} AtaTaskfileBlock;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, protocol) == 0, "AtaCommandBlock.protocol");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, options) == 2, "AtaCommandBlock.options");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, resultFlags) == 3, "AtaCommandBlock.resultFlags");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, inputMask) == 4, "AtaCommandBlock.inputMask");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outputMask) == 8, "AtaCommandBlock.outputMask");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, timeOrTimeout) == 12, "AtaCommandBlock.timeOrTimeout");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, conditionFlags) == 20, "AtaCommandBlock.conditionFlags");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, device) == 22, "AtaCommandBlock.device");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, features) == 23, "AtaCommandBlock.features");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, featuresExp) == 24, "AtaCommandBlock.featuresExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, count) == 25, "AtaCommandBlock.count");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, countExp) == 26, "AtaCommandBlock.countExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaLow) == 27, "AtaCommandBlock.lbaLow");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaLowExp) == 28, "AtaCommandBlock.lbaLowExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaMid) == 29, "AtaCommandBlock.lbaMid");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaMidExp) == 30, "AtaCommandBlock.lbaMidExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaHigh) == 31, "AtaCommandBlock.lbaHigh");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, lbaHighExp) == 32, "AtaCommandBlock.lbaHighExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, command) == 33, "AtaCommandBlock.command");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, icc) == 34, "AtaCommandBlock.icc");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, aux) == 35, "AtaCommandBlock.aux");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outDevice) == 39, "AtaCommandBlock.outDevice");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outError) == 40, "AtaCommandBlock.outError");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outErrorExp) == 41, "AtaCommandBlock.outErrorExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outCount) == 42, "AtaCommandBlock.outCount");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outCountExp) == 43, "AtaCommandBlock.outCountExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaLow) == 44, "AtaCommandBlock.outLbaLow");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaLowExp) == 45, "AtaCommandBlock.outLbaLowExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaMid) == 46, "AtaCommandBlock.outLbaMid");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaMidExp) == 47, "AtaCommandBlock.outLbaMidExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaHigh) == 48, "AtaCommandBlock.outLbaHigh");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outLbaHighExp) == 49, "AtaCommandBlock.outLbaHighExp");
CRT_STATIC_ASSERT(offsetof(AtaCommandBlock, outStatus) == 50, "AtaCommandBlock.outStatus");
CRT_STATIC_ASSERT(sizeof(AtaCommandBlock) == ATA_COMMAND_BLOCK_SIZE, "AtaCommandBlock size");

CRT_STATIC_ASSERT(offsetof(AtaAbility, identifier) == 1, "AtaAbility.identifier");
CRT_STATIC_ASSERT(offsetof(AtaAbility, maxTransferBytes) == 4, "AtaAbility.maxTransferBytes");
CRT_STATIC_ASSERT(offsetof(AtaAbility, reserved8) == 8, "AtaAbility.reserved8");
CRT_STATIC_ASSERT(offsetof(AtaAbility, minLbaCount) == 40, "AtaAbility.minLbaCount");
CRT_STATIC_ASSERT(offsetof(AtaAbility, maxLba) == 48, "AtaAbility.maxLba");
CRT_STATIC_ASSERT(offsetof(AtaAbility, writableRegisters) == 56, "AtaAbility.writableRegisters");
CRT_STATIC_ASSERT(offsetof(AtaAbility, returnedRegisters) == 58, "AtaAbility.returnedRegisters");
CRT_STATIC_ASSERT(sizeof(AtaAbility) == ATA_ABILITY_SIZE, "AtaAbility size");

CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, cleared) == 0, "AtaTaskfileBlock.cleared");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, device) == 25, "AtaTaskfileBlock.device");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, error) == 26, "AtaTaskfileBlock.error");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, errorExp) == 27, "AtaTaskfileBlock.errorExp");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, count) == 28, "AtaTaskfileBlock.count");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, lbaLow) == 30, "AtaTaskfileBlock.lbaLow");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, lbaMid) == 32, "AtaTaskfileBlock.lbaMid");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, lbaHigh) == 34, "AtaTaskfileBlock.lbaHigh");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, lbaHighExp) == 35, "AtaTaskfileBlock.lbaHighExp");
CRT_STATIC_ASSERT(offsetof(AtaTaskfileBlock, status) == 36, "AtaTaskfileBlock.status");
CRT_STATIC_ASSERT(sizeof(AtaTaskfileBlock) == ATA_TASKFILE_BLOCK_SIZE, "AtaTaskfileBlock size");

/* Whether a protocol moves data, in which direction, and with 48-bit registers. */
static inline int AtaProtocol_IsKnown(uint8_t protocol) {
    return protocol <= 5 || (protocol >= 10 && protocol <= 13) || protocol == ATA_PROTOCOL_SOFT_RESET;
}
static inline int AtaProtocol_IsDataIn(uint8_t protocol) {
    return protocol == 2 || protocol == 4 || protocol == 10 || protocol == 12;
}
static inline int AtaProtocol_IsDataOut(uint8_t protocol) {
    return protocol == 3 || protocol == 5 || protocol == 11 || protocol == 13;
}
static inline int AtaProtocol_IsDma(uint8_t protocol) {
    return protocol >= 10 && protocol <= 13;
}
static inline int AtaProtocol_Is48Bit(uint8_t protocol) {
    return protocol == 1 || protocol == 4 || protocol == 5 || protocol == 12 || protocol == 13;
}

#endif /* DEVICE_ATA_DEVICE_H */
