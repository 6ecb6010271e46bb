/* Pieces shared by the "ata/device", "scsi/device" and "nvme/device" contracts:
 * the function codes that both ATA and SCSI services answer, the setting record
 * and the settings-support answer. Every block is little-endian and byte packed;
 * the static asserts below each record pin its wire layout. */
#ifndef DEVICE_COMMON_H
#define DEVICE_COMMON_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt/api.h>

/* Function codes 0 to 5 mean the same on "ata/device" and "scsi/device". */
#define DEVICE_FUNCTION_GET_CAPABILITIES 0
#define DEVICE_FUNCTION_GET_SETTINGS_SUPPORT 1
#define DEVICE_FUNCTION_GET_SETTING 2
#define DEVICE_FUNCTION_SET_SETTING 3
#define DEVICE_FUNCTION_GET_ABILITY_COUNT 4
#define DEVICE_FUNCTION_GET_ABILITY 5
/* 'do ata command' / 'do scsi command'. */
#define DEVICE_FUNCTION_DO_COMMAND 6

/* Buffer-0 lengths of the functions above. */
#define DEVICE_CAPABILITIES_SIZE 4     /* one unsigned 32-bit word of feature bits */
#define DEVICE_SETTINGS_SUPPORT_SIZE 4 /* DeviceSettingsSupport */
#define DEVICE_SETTING_SIZE 9          /* DeviceSetting */
#define DEVICE_ABILITY_COUNT_SIZE 4    /* signed 32-bit count */
#define DEVICE_ABILITY_INDEX_SIZE 4    /* signed 32-bit index; buffer 1 takes the ability */

/* Setting 0: command time-out in nanoseconds, the time-out a server gives the
 * operating system for every command (converted to whole seconds). */
#define DEVICE_SETTING_TIMEOUT 0
#define DEVICE_SETTING_TIMEOUT_DEFAULT_NS 60000000000ull
/* Setting 5: read-only, always 1 on the ATA pass-through server. */
#define DEVICE_SETTING_ATA_CONSTANT 5

#pragma pack(push, 1)

/* Functions 2 and 3. */
typedef struct DeviceSetting {
    uint64_t value;
    uint8_t identifier;
} DeviceSetting;

/* Function 1: bit n set when setting n can be read / written. */
typedef struct DeviceSettingsSupport {
    uint16_t readable;
    uint16_t writable;
} DeviceSettingsSupport;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(DeviceSetting, value) == 0, "DeviceSetting.value");
CRT_STATIC_ASSERT(offsetof(DeviceSetting, identifier) == 8, "DeviceSetting.identifier");
CRT_STATIC_ASSERT(sizeof(DeviceSetting) == DEVICE_SETTING_SIZE, "DeviceSetting size");

CRT_STATIC_ASSERT(offsetof(DeviceSettingsSupport, readable) == 0, "DeviceSettingsSupport.readable");
CRT_STATIC_ASSERT(offsetof(DeviceSettingsSupport, writable) == 2, "DeviceSettingsSupport.writable");
CRT_STATIC_ASSERT(sizeof(DeviceSettingsSupport) == DEVICE_SETTINGS_SUPPORT_SIZE, "DeviceSettingsSupport size");

#endif /* DEVICE_COMMON_H */
