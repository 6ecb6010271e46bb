/* The "nvme/device" service contract: NVMe admin commands and controller reset.
 * Function 1 carries one NvmeCommandBlock in buffer 0 and the command's data in
 * buffer 1; function 7 carries no buffers. Functions 4 and 5 ('get ability
 * count', 'get ability') work as on "ata/device" and "scsi/device" with an
 * NvmeAbility in buffer 1; a provider may refuse them, and clients then assume
 * NVME_DEFAULT_MAX_TRANSFER. */
#ifndef DEVICE_NVME_DEVICE_H
#define DEVICE_NVME_DEVICE_H

#include "device_common.h"

#define NVME_DEVICE_SERVICE_TYPE "nvme/device"

#define NVME_DEVICE_FUNCTION_ADMIN_COMMAND 1
#define NVME_DEVICE_FUNCTION_CONTROLLER_RESET 7

#define NVME_COMMAND_BLOCK_SIZE 104
#define NVME_ABILITY_SIZE 16

/* The largest admin data transfer a client assumes when the provider reports none. */
#define NVME_DEFAULT_MAX_TRANSFER 0x4000000u

/* NvmeAbility.kind: the data direction of the admin commands it describes. */
#define NVME_ABILITY_DATA_IN 1
#define NVME_ABILITY_DATA_OUT 2

/* Admin opcodes the tool sends; the data direction follows from the opcode's low
 * two bits (01b host to controller, 10b controller to host). */
#define NVME_ADMIN_GET_LOG_PAGE 0x02
#define NVME_ADMIN_IDENTIFY 0x06
#define NVME_ADMIN_FIRMWARE_COMMIT 0x10
#define NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD 0x11

/* Bit 0 of NvmeCompletionEntry.statusField; the status proper is bits 1-15. */
#define NVME_PHASE_TAG 0x0001u

#pragma pack(push, 1)

/* The 64-byte submission queue entry as NVMe lays it out. */
typedef struct NvmeSubmissionEntry {
    uint8_t opcode;
    uint8_t flags;
    uint16_t commandId;
    uint32_t namespaceId;
    uint32_t cdw2;
    uint32_t cdw3;
    uint64_t metadataPointer;
    uint64_t dataPointer[2];
    uint32_t cdw10;
    uint32_t cdw11;
    uint32_t cdw12;
    uint32_t cdw13;
    uint32_t cdw14;
    uint32_t cdw15;
} NvmeSubmissionEntry;

/* The 16-byte completion queue entry as NVMe lays it out. */
typedef struct NvmeCompletionEntry {
    uint32_t result;         /* command specific, dword 0 */
    uint32_t reserved;       /* dword 1 */
    uint16_t sqHead;
    uint16_t sqId;
    uint16_t commandId;
    uint16_t statusField;    /* bit 0 phase tag, bits 1-15 status */
} NvmeCompletionEntry;

typedef struct NvmeCommandBlock {
    NvmeSubmissionEntry submission; /* in */
    uint16_t zero64;                /* in: 0 */
    uint16_t reserved66;
    uint64_t timeout;               /* in: nanoseconds */
    uint32_t reserved76;
    NvmeCompletionEntry completion; /* out */
    uint8_t reserved96[8];
} NvmeCommandBlock;

/* Function 5: what admin commands moving data one way may carry. */
typedef struct NvmeAbility {
    uint8_t reserved0;
    uint8_t kind;              /* NVME_ABILITY_DATA_IN or _OUT */
    uint8_t reserved2[2];
    uint32_t maxTransferBytes; /* largest data transfer of one command */
    uint8_t reserved8[8];
} NvmeAbility;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(NvmeAbility, kind) == 1, "NvmeAbility.kind");
CRT_STATIC_ASSERT(offsetof(NvmeAbility, maxTransferBytes) == 4, "NvmeAbility.maxTransferBytes");
CRT_STATIC_ASSERT(sizeof(NvmeAbility) == NVME_ABILITY_SIZE, "NvmeAbility size");

CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, opcode) == 0, "NvmeSubmissionEntry.opcode");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, commandId) == 2, "NvmeSubmissionEntry.commandId");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, namespaceId) == 4, "NvmeSubmissionEntry.namespaceId");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, metadataPointer) == 16, "NvmeSubmissionEntry.metadataPointer");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, dataPointer) == 24, "NvmeSubmissionEntry.dataPointer");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, cdw10) == 40, "NvmeSubmissionEntry.cdw10");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, cdw11) == 44, "NvmeSubmissionEntry.cdw11");
CRT_STATIC_ASSERT(offsetof(NvmeSubmissionEntry, cdw15) == 60, "NvmeSubmissionEntry.cdw15");
CRT_STATIC_ASSERT(sizeof(NvmeSubmissionEntry) == 64, "NvmeSubmissionEntry size");

CRT_STATIC_ASSERT(offsetof(NvmeCompletionEntry, result) == 0, "NvmeCompletionEntry.result");
CRT_STATIC_ASSERT(offsetof(NvmeCompletionEntry, sqHead) == 8, "NvmeCompletionEntry.sqHead");
CRT_STATIC_ASSERT(offsetof(NvmeCompletionEntry, commandId) == 12, "NvmeCompletionEntry.commandId");
CRT_STATIC_ASSERT(offsetof(NvmeCompletionEntry, statusField) == 14, "NvmeCompletionEntry.statusField");
CRT_STATIC_ASSERT(sizeof(NvmeCompletionEntry) == 16, "NvmeCompletionEntry size");

CRT_STATIC_ASSERT(offsetof(NvmeCommandBlock, submission) == 0, "NvmeCommandBlock.submission");
CRT_STATIC_ASSERT(offsetof(NvmeCommandBlock, zero64) == 64, "NvmeCommandBlock.zero64");
CRT_STATIC_ASSERT(offsetof(NvmeCommandBlock, timeout) == 68, "NvmeCommandBlock.timeout");
CRT_STATIC_ASSERT(offsetof(NvmeCommandBlock, completion) == 80, "NvmeCommandBlock.completion");
CRT_STATIC_ASSERT(offsetof(NvmeCommandBlock, reserved96) == 96, "NvmeCommandBlock.reserved96");
CRT_STATIC_ASSERT(sizeof(NvmeCommandBlock) == NVME_COMMAND_BLOCK_SIZE, "NvmeCommandBlock size");

/* 1 when the completion's status (phase tag aside) reports an error. */
static inline int NvmeCompletion_Failed(const NvmeCompletionEntry* completion) {
    return (completion->statusField & 0xFFFEu) != 0;
}

#endif /* DEVICE_NVME_DEVICE_H */
