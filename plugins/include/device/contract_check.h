/* The checks every server of "ata/device", "scsi/device" and "nvme/device"
 * makes before it looks at a command, with the messages clients rely on.
 *
 * Order: the function code ("Unsupported function code: %d"); the exact length
 * of buffer 0 ("Parameter buffer 0 is not exactly %d bytes long for '<name>': %d");
 * for 'get ability' the length of buffer 1, a null buffer 1 and the index
 * against the ability count; for the command functions ('do ata command',
 * 'do scsi command', NVMe 'admin command') a data length without a data buffer
 * ("Null data buffer"). All refusals carry code 4. Protocol, direction and
 * device checks stay with the server.
 *
 * Linked statically into each plug-in that serves these types; nothing here is
 * exported from the plug-in. */
#ifndef DEVICE_CONTRACT_CHECK_H
#define DEVICE_CONTRACT_CHECK_H

#include <corvane.h>

#include "ata_device.h"
#include "nvme_device.h"
#include "scsi_device.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DEVICE_CONTRACT_ATA 0
#define DEVICE_CONTRACT_SCSI 1
#define DEVICE_CONTRACT_NVME 2

#define DEVICE_CONTRACT_FUNCTION_SLOTS 16
#define DEVICE_FUNCTION_NAME_SIZE 48
/* parameterLength of a function whose buffer 0 the server checks itself. */
#define DEVICE_LENGTH_UNCHECKED (-1)

typedef struct DeviceFunctionRule {
    uint8_t served;          /* 0: refused as an unsupported function code */
    uint8_t reserved[3];
    int32_t parameterLength; /* exact length of buffer 0, or DEVICE_LENGTH_UNCHECKED */
    char name[DEVICE_FUNCTION_NAME_SIZE]; /* the function's name in the length message */
} DeviceFunctionRule;

typedef struct DeviceContractRules {
    int32_t kind; /* DEVICE_CONTRACT_* */
    DeviceFunctionRule functions[DEVICE_CONTRACT_FUNCTION_SLOTS];
} DeviceContractRules;

CRT_STATIC_ASSERT(offsetof(DeviceFunctionRule, served) == 0, "DeviceFunctionRule.served");
CRT_STATIC_ASSERT(offsetof(DeviceFunctionRule, parameterLength) == 4, "DeviceFunctionRule.parameterLength");
CRT_STATIC_ASSERT(offsetof(DeviceFunctionRule, name) == 8, "DeviceFunctionRule.name");
CRT_STATIC_ASSERT(sizeof(DeviceFunctionRule) == 56, "DeviceFunctionRule size");
CRT_STATIC_ASSERT(offsetof(DeviceContractRules, kind) == 0, "DeviceContractRules.kind");
CRT_STATIC_ASSERT(offsetof(DeviceContractRules, functions) == 4, "DeviceContractRules.functions");
CRT_STATIC_ASSERT(sizeof(DeviceContractRules) == 4 + 56 * DEVICE_CONTRACT_FUNCTION_SLOTS, "DeviceContractRules size");

/* The rules and wording of the pass-through servers:
 * ATA: functions 0 to 6 ('get capabilities' ... 'do ata command').
 * SCSI: functions 0 to 14; 7, 13 and 14 served without a length check (the
 *   server refuses them with its own message), 9 and 10 too (the server's own
 *   checks come first, then DeviceContract_CheckBlockLength).
 * NVMe: function 1 ('admin command', 104 bytes), 4 and 5 ('get ability count',
 *   'get ability' with a 16-byte NvmeAbility) and 7 ('controller reset', no buffer 0).
 * An unknown kind leaves every function unserved. */
void DeviceContract_InitRules(DeviceContractRules* rules, int32_t kind);

/* Serves (or stops serving) one function code with its own length and name;
 * translating and controller servers use it for their additions and wording.
 * Codes outside 0 to 15 are ignored; the name is cut to 47 characters. */
void DeviceContract_SetFunction(DeviceContractRules* rules, uint8_t code, int served, int32_t parameterLength,
                                const char* name);

/* Runs the common checks on a command. For 'do ata command' and 'do scsi
 * command' it also prepares the block once its length is right: result and
 * condition flags cleared, and for SCSI the status preset to 0xFF (the command
 * has not reached the device). abilityCount is read for 'get ability' only.
 * 1 when the server may go on; 0 with code 4 and the message in error. */
int DeviceContract_CheckCommand(const DeviceContractRules* rules, CvCommand* command, int32_t abilityCount,
                                CvError* error);

/* The task management and send primitive length check: 1, or 0 with code 4 and
 * "parameter buffer 0 in incorrect". */
int DeviceContract_CheckBlockLength(const CvCommand* command, uint32_t expected, CvError* error);


/* What functions 0 to 5 answer on a server whose answers do not depend on the
 * device: the capability word, the settings support, setting 0 (the command
 * time-out, kept where the server says) and the ability records. */
typedef struct DeviceQueryAnswers {
    const char* settingKind;    /* names the kind in the setting refusals: "ATA", "SCSI", ... */
    uint32_t capabilities;
    DeviceSettingsSupport support;
    uint8_t writesCapabilities; /* 0: 'get capabilities' succeeds and writes nothing */
    uint8_t constantSetting5;   /* setting 5 reads 1 */
    const void* abilities;      /* abilityCount records of abilitySize bytes */
    uint32_t abilitySize;
    int32_t abilityCount;
} DeviceQueryAnswers;

typedef struct DeviceTimeoutAccess {
    void* owner;
    uint64_t (*get)(void* owner);
    void (*set)(void* owner, uint64_t value);
} DeviceTimeoutAccess;

CRT_STATIC_ASSERT(offsetof(DeviceQueryAnswers, capabilities) == 8, "DeviceQueryAnswers.capabilities");
CRT_STATIC_ASSERT(offsetof(DeviceQueryAnswers, support) == 12, "DeviceQueryAnswers.support");
CRT_STATIC_ASSERT(offsetof(DeviceQueryAnswers, writesCapabilities) == 16, "DeviceQueryAnswers.writesCapabilities");
CRT_STATIC_ASSERT(offsetof(DeviceQueryAnswers, abilities) == 24, "DeviceQueryAnswers.abilities");
CRT_STATIC_ASSERT(sizeof(DeviceQueryAnswers) == 40, "DeviceQueryAnswers size");
CRT_STATIC_ASSERT(sizeof(DeviceTimeoutAccess) == 24, "DeviceTimeoutAccess size");

/* Answers function 0 to 5 of a command that passed DeviceContract_CheckCommand;
 * other codes are refused with "Unsupported function code: %d". Setting
 * refusals say "Unsupported <kind> setting to get: %d" (or "to set"). */
int DeviceContract_AnswerQuery(const DeviceQueryAnswers* answers, const DeviceTimeoutAccess* timeout,
                               CvCommand* command, CvError* error);

/* The ability index of a 'get ability' command that passed the checks. */
int32_t DeviceContract_AbilityIndex(const CvCommand* command);

/* The 33 "scsi/device" abilities in the order every server lists them: no
 * data; data in and data out of any operation code with genericTransfer bytes;
 * then the data-in and data-out operation codes with their own limit of
 * operationTransfer bytes. */
#define DEVICE_SCSI_ABILITY_COUNT 33
void DeviceContract_FillScsiAbilities(ScsiAbility* abilities, uint32_t genericTransfer, uint32_t operationTransfer);

/* The limits the operating system's SCSI servers list: data in and data out up
 * to 0x2000000 bytes of any operation code, 0x8000 bytes of the listed ones. */
#define DEVICE_SCSI_GENERIC_TRANSFER 0x2000000u
#define DEVICE_SCSI_OPERATION_TRANSFER 0x8000u

#ifdef __cplusplus
}
#endif

#endif /* DEVICE_CONTRACT_CHECK_H */
