/* The "scsi/device" service contract: SCSI commands, task management, SAS
 * primitives and topology carried in fixed binary blocks. Buffer 0 of a command
 * is the block of its function, buffer 1 the data. */
#ifndef DEVICE_SCSI_DEVICE_H
#define DEVICE_SCSI_DEVICE_H

#include "device_common.h"

#define SCSI_DEVICE_SERVICE_TYPE "scsi/device"

/* Function codes beyond the common ones 0 to 6. */
#define SCSI_DEVICE_FUNCTION_RESET 7                      /* refused by the servers of this system */
#define SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT 8
#define SCSI_DEVICE_FUNCTION_TASK_MANAGEMENT 9
#define SCSI_DEVICE_FUNCTION_SEND_PRIMITIVE 10
#define SCSI_DEVICE_FUNCTION_GET_TOPOLOGY 11
#define SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS 12
#define SCSI_DEVICE_FUNCTION_TAG_IDS 13                   /* refused */
#define SCSI_DEVICE_FUNCTION_FETCH_TASK_MANAGEMENT 14     /* refused */

#define SCSI_COMMAND_BLOCK_SIZE 557
#define SCSI_ABILITY_SIZE 56
#define SCSI_TASK_MANAGEMENT_SUPPORT_SIZE 2
#define SCSI_TASK_MANAGEMENT_BLOCK_SIZE 18
#define SAS_PRIMITIVE_BLOCK_SIZE 5
#define SCSI_TOPOLOGY_SIZE 24
#define SCSI_SAS_ADDRESS_SIZE 8

#define SCSI_CDB_CAPACITY 256
#define SCSI_SENSE_CAPACITY 252

/* Capability bits (function 0). */
#define SCSI_CAPABILITY_HOST_PORT 0x260u   /* task management, primitives, LUN and task attribute */
#define SCSI_CAPABILITY_TOPOLOGY 0x80u     /* function 11 */
#define SCSI_CAPABILITY_SAS_ADDRESS 0x100u /* function 12 */

/* ScsiCommandBlock.direction and ScsiAbility.kind */
#define SCSI_DIRECTION_NONE 0
#define SCSI_DIRECTION_IN 1
#define SCSI_DIRECTION_OUT 2
#define SCSI_DIRECTION_BIDIRECTIONAL 3
/* ScsiCommandBlock.options */
#define SCSI_OPTION_TASK_ATTRIBUTE 0x02u
#define SCSI_OPTION_LOGICAL_UNIT 0x08u
/* ScsiCommandBlock.resultFlags */
#define SCSI_RESULT_DURATION_VALID 0x01u
/* ScsiCommandBlock.conditionFlags */
#define SCSI_CONDITION_UNDERRUN 0x02u
/* ScsiCommandBlock.status */
#define SCSI_STATUS_NOT_DELIVERED 0xFFu     /* the command never reached the device */
#define SCSI_STATUS_CONTROLLER_ERROR 0x8000u /* plus the controller status (host-port path) */

/* ScsiTaskManagementBlock.function: bit-coded functions ... */
#define SCSI_TM_ABORT_TASK 0x0001u
#define SCSI_TM_ABORT_TASK_SET 0x0002u
#define SCSI_TM_CLEAR_TASK_SET 0x0004u
#define SCSI_TM_LOGICAL_UNIT_RESET 0x0008u
#define SCSI_TM_TARGET_RESET_FLAGGED 0x0010u
#define SCSI_TM_CLEAR_ACA 0x0040u
#define SCSI_TM_TARGET_RESET 0x0100u
#define SCSI_TM_BUS_RESET 0x0200u
/* ... and value-coded ones. */
#define SCSI_TM_QUERY_TASK 0x0080u
#define SCSI_TM_QUERY_TASK_SET 0x0081u
#define SCSI_TM_QUERY_ASYNC_EVENT 0x0082u
/* ScsiTaskManagementBlock.resultFlags */
#define SCSI_TM_RESULT_RESPONSE_VALID 0x01u

#pragma pack(push, 1)

/* Function 6, 'do scsi command'. */
typedef struct ScsiCommandBlock {
    uint8_t direction;      /* in: SCSI_DIRECTION_* */
    uint8_t reserved1;
    uint8_t options;        /* in: SCSI_OPTION_* */
    uint8_t resultFlags;    /* out: SCSI_RESULT_*, cleared first by the server */
    uint16_t taskTag;       /* out: returned by the host-port path */
    uint8_t taskAttribute;  /* in: with SCSI_OPTION_TASK_ATTRIBUTE */
    uint8_t reserved7;
    uint64_t duration;      /* out: nanoseconds */
    uint8_t reserved16[16];
    uint16_t status;        /* out: SCSI status byte, SCSI_STATUS_NOT_DELIVERED or controller error */
    uint8_t conditionFlags; /* out: SCSI_CONDITION_UNDERRUN, cleared first by the server */
    uint8_t cdbLength;      /* in */
    uint8_t senseLength;    /* out */
    uint8_t cdb[SCSI_CDB_CAPACITY];     /* in */
    uint8_t sense[SCSI_SENSE_CAPACITY]; /* out */
    uint64_t logicalUnit;   /* in: SAM format, with SCSI_OPTION_LOGICAL_UNIT */
    uint8_t reserved553[4];
} ScsiCommandBlock;

/* Function 5 on "scsi/device". */
typedef struct ScsiAbility {
    uint8_t reserved0;
    uint8_t kind;              /* SCSI_DIRECTION_NONE, _IN or _OUT */
    uint8_t operationCode;     /* the only operation code it covers; 0: any */
    uint8_t reserved3;
    uint32_t maxTransferBytes;
    uint8_t reserved8[32];
    uint64_t value40;          /* 127 */
    uint64_t value48;          /* 0x7FFFFFFFFFFFFFFF */
} ScsiAbility;

/* Function 9. */
typedef struct ScsiTaskManagementBlock {
    uint8_t reserved0[8];
    uint32_t responseCode; /* out */
    uint8_t reserved12;
    uint8_t resultFlags;   /* out: SCSI_TM_RESULT_*, cleared first */
    uint16_t function;     /* in: SCSI_TM_* */
    uint16_t taskTag;      /* in */
} ScsiTaskManagementBlock;

/* Function 10. */
typedef struct SasPrimitiveBlock {
    uint32_t primitive;
    uint8_t sendMode; /* 1 and 2 select the library's modes 2 and 1; anything else its mode 8 */
} SasPrimitiveBlock;

/* Function 11: the topology words of the drive's DriveInfoBlock or HostPortInfo. */
typedef struct ScsiTopology {
    int64_t word3;           /* the fourth topology word, sign-extended */
    uint32_t word0;
    uint32_t word1;
    uint32_t word2;
    uint32_t hostPortDevice; /* 0xFFFFFFFF when the unit is not on the host-port path */
} ScsiTopology;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, direction) == 0, "ScsiCommandBlock.direction");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, options) == 2, "ScsiCommandBlock.options");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, resultFlags) == 3, "ScsiCommandBlock.resultFlags");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, taskTag) == 4, "ScsiCommandBlock.taskTag");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, taskAttribute) == 6, "ScsiCommandBlock.taskAttribute");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, duration) == 8, "ScsiCommandBlock.duration");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, reserved16) == 16, "ScsiCommandBlock.reserved16");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, status) == 32, "ScsiCommandBlock.status");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, conditionFlags) == 34, "ScsiCommandBlock.conditionFlags");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, cdbLength) == 35, "ScsiCommandBlock.cdbLength");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, senseLength) == 36, "ScsiCommandBlock.senseLength");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, cdb) == 37, "ScsiCommandBlock.cdb");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, sense) == 293, "ScsiCommandBlock.sense");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, logicalUnit) == 545, "ScsiCommandBlock.logicalUnit");
CRT_STATIC_ASSERT(offsetof(ScsiCommandBlock, reserved553) == 553, "ScsiCommandBlock.reserved553");
CRT_STATIC_ASSERT(sizeof(ScsiCommandBlock) == SCSI_COMMAND_BLOCK_SIZE, "ScsiCommandBlock size");

CRT_STATIC_ASSERT(offsetof(ScsiAbility, kind) == 1, "ScsiAbility.kind");
CRT_STATIC_ASSERT(offsetof(ScsiAbility, operationCode) == 2, "ScsiAbility.operationCode");
CRT_STATIC_ASSERT(offsetof(ScsiAbility, maxTransferBytes) == 4, "ScsiAbility.maxTransferBytes");
CRT_STATIC_ASSERT(offsetof(ScsiAbility, value40) == 40, "ScsiAbility.value40");
CRT_STATIC_ASSERT(offsetof(ScsiAbility, value48) == 48, "ScsiAbility.value48");
CRT_STATIC_ASSERT(sizeof(ScsiAbility) == SCSI_ABILITY_SIZE, "ScsiAbility size");

CRT_STATIC_ASSERT(offsetof(ScsiTaskManagementBlock, responseCode) == 8, "ScsiTaskManagementBlock.responseCode");
CRT_STATIC_ASSERT(offsetof(ScsiTaskManagementBlock, resultFlags) == 13, "ScsiTaskManagementBlock.resultFlags");
CRT_STATIC_ASSERT(offsetof(ScsiTaskManagementBlock, function) == 14, "ScsiTaskManagementBlock.function");
CRT_STATIC_ASSERT(offsetof(ScsiTaskManagementBlock, taskTag) == 16, "ScsiTaskManagementBlock.taskTag");
CRT_STATIC_ASSERT(sizeof(ScsiTaskManagementBlock) == SCSI_TASK_MANAGEMENT_BLOCK_SIZE, "ScsiTaskManagementBlock size");

CRT_STATIC_ASSERT(offsetof(SasPrimitiveBlock, primitive) == 0, "SasPrimitiveBlock.primitive");
CRT_STATIC_ASSERT(offsetof(SasPrimitiveBlock, sendMode) == 4, "SasPrimitiveBlock.sendMode");
CRT_STATIC_ASSERT(sizeof(SasPrimitiveBlock) == SAS_PRIMITIVE_BLOCK_SIZE, "SasPrimitiveBlock size");

CRT_STATIC_ASSERT(offsetof(ScsiTopology, word3) == 0, "ScsiTopology.word3");
CRT_STATIC_ASSERT(offsetof(ScsiTopology, word0) == 8, "ScsiTopology.word0");
CRT_STATIC_ASSERT(offsetof(ScsiTopology, word1) == 12, "ScsiTopology.word1");
CRT_STATIC_ASSERT(offsetof(ScsiTopology, word2) == 16, "ScsiTopology.word2");
CRT_STATIC_ASSERT(offsetof(ScsiTopology, hostPortDevice) == 20, "ScsiTopology.hostPortDevice");
CRT_STATIC_ASSERT(sizeof(ScsiTopology) == SCSI_TOPOLOGY_SIZE, "ScsiTopology size");

#endif /* DEVICE_SCSI_DEVICE_H */
