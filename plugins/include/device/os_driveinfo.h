/* The type data of an "os/driveinfo" resource: what the OS devices plug-in knows
 * of one disk, read by the pass-through plug-ins through the resource's type
 * information. The record is allocated by its publisher and owned by the
 * resource manager; readers never free it. */
#ifndef DEVICE_OS_DRIVEINFO_H
#define DEVICE_OS_DRIVEINFO_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt/api.h>

#include "../hostport/hostport_api.h"

#define OS_DRIVEINFO_TYPE_NAME "os/driveinfo"

#define OS_DRIVE_PATH_SIZE 256
#define OS_DRIVEINFO_SIZE 1648
#define DRIVE_INFO_BLOCK_SIZE 1360
#define HOST_PORT_INFO_SIZE 512
#define DRIVE_LISTENER_SIZE 16
#define DRIVE_INFO_DEVICE_BLOCK_SIZE 272
#define HOST_PORT_RECORD_SIZE HOSTPORT_PORT_RECORD_SIZE /* the port record of the host-port library */

/* OsDriveInfo.nodeType: the publisher writes 3; readers accept 1, 2 and 3. */
#define OS_DRIVE_NODE_TYPE 3

/* DriveInfoBlock.flags */
#define DRIVE_INFO_SCSI_TOPOLOGY_VALID 0x01u
#define DRIVE_INFO_HBA_PROPERTIES_VALID 0x02u
#define DRIVE_INFO_BUS_USB 0x04u
#define DRIVE_INFO_DEVICE_BLOCK_VALID 0x08u
#define DRIVE_INFO_HOST_PORT_VALID 0x10u
#define DRIVE_INFO_SAS_ADDRESS_VALID 0x20u

/* What the host-port library knows of a disk found behind one of its ports. */
typedef struct HostPortInfo {
    char accessPath[OS_DRIVE_PATH_SIZE]; /* copy of the disk's access path */
    int32_t driveNumber;                 /* copy of the drive number */
    uint32_t deviceEntry[4];             /* the library's device entry for the disk */
    uint32_t reserved276;
    uint64_t sasAddress;                 /* copy, with DRIVE_INFO_SAS_ADDRESS_VALID */
    uint8_t portRecord[HOST_PORT_RECORD_SIZE];
} HostPortInfo;

typedef struct DriveInfoBlock {
    uint32_t flags;              /* DRIVE_INFO_* */
    uint32_t scsiTopology[4];
    uint32_t hbaProperties[4];
    char hbaName[256];
    uint32_t usbProperties[4];
    char usbName[256];
    uint8_t deviceBlock[DRIVE_INFO_DEVICE_BLOCK_SIZE]; /* with DRIVE_INFO_DEVICE_BLOCK_VALID */
    uint32_t reserved836;
    HostPortInfo hostPort;
    uint64_t sasAddress;         /* with DRIVE_INFO_SAS_ADDRESS_VALID */
} DriveInfoBlock;

/* Notify operation of a listener: arrived is 1 when the disk has come back and 0
 * when it has gone; path points to the 256-character access path and info to a
 * copy of the block, both valid only during the call. */
typedef void (*DriveListenerNotifyFunction)(void* owner, int32_t arrived, const char* path,
                                            const DriveInfoBlock* info);

/* Allocated and owned by the plug-in that adds it; the publisher keeps only the pointer. */
typedef struct DriveListener {
    void* owner;
    DriveListenerNotifyFunction notify;
} DriveListener;

typedef void (*DriveListenerOperation)(void* ownerHandle, DriveListener* listener);

typedef struct OsDriveInfo {
    void* ownerHandle;                    /* passed back to the two listener operations */
    int32_t nodeType;                     /* OS_DRIVE_NODE_TYPE */
    uint32_t reserved12;
    DriveListenerOperation addListener;
    DriveListenerOperation removeListener;
    char diskPath[OS_DRIVE_PATH_SIZE];    /* access path to open; the last byte is always 0 */
    DriveInfoBlock info;
} OsDriveInfo;

CRT_STATIC_ASSERT(offsetof(HostPortInfo, accessPath) == 0, "HostPortInfo.accessPath");
CRT_STATIC_ASSERT(offsetof(HostPortInfo, driveNumber) == 256, "HostPortInfo.driveNumber");
CRT_STATIC_ASSERT(offsetof(HostPortInfo, deviceEntry) == 260, "HostPortInfo.deviceEntry");
CRT_STATIC_ASSERT(offsetof(HostPortInfo, reserved276) == 276, "HostPortInfo.reserved276");
CRT_STATIC_ASSERT(offsetof(HostPortInfo, sasAddress) == 280, "HostPortInfo.sasAddress");
CRT_STATIC_ASSERT(offsetof(HostPortInfo, portRecord) == 288, "HostPortInfo.portRecord");
CRT_STATIC_ASSERT(sizeof(HostPortInfo) == HOST_PORT_INFO_SIZE, "HostPortInfo size");

CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, flags) == 0, "DriveInfoBlock.flags");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, scsiTopology) == 4, "DriveInfoBlock.scsiTopology");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, hbaProperties) == 20, "DriveInfoBlock.hbaProperties");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, hbaName) == 36, "DriveInfoBlock.hbaName");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, usbProperties) == 292, "DriveInfoBlock.usbProperties");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, usbName) == 308, "DriveInfoBlock.usbName");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, deviceBlock) == 564, "DriveInfoBlock.deviceBlock");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, reserved836) == 836, "DriveInfoBlock.reserved836");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, hostPort) == 840, "DriveInfoBlock.hostPort");
CRT_STATIC_ASSERT(offsetof(DriveInfoBlock, sasAddress) == 1352, "DriveInfoBlock.sasAddress");
CRT_STATIC_ASSERT(sizeof(DriveInfoBlock) == DRIVE_INFO_BLOCK_SIZE, "DriveInfoBlock size");

CRT_STATIC_ASSERT(offsetof(DriveListener, owner) == 0, "DriveListener.owner");
CRT_STATIC_ASSERT(offsetof(DriveListener, notify) == 8, "DriveListener.notify");
CRT_STATIC_ASSERT(sizeof(DriveListener) == DRIVE_LISTENER_SIZE, "DriveListener size");

CRT_STATIC_ASSERT(offsetof(OsDriveInfo, ownerHandle) == 0, "OsDriveInfo.ownerHandle");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, nodeType) == 8, "OsDriveInfo.nodeType");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, reserved12) == 12, "OsDriveInfo.reserved12");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, addListener) == 16, "OsDriveInfo.addListener");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, removeListener) == 24, "OsDriveInfo.removeListener");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, diskPath) == 32, "OsDriveInfo.diskPath");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, info) == 288, "OsDriveInfo.info");
CRT_STATIC_ASSERT(offsetof(OsDriveInfo, info) + offsetof(DriveInfoBlock, hostPort) == 1128, "OsDriveInfo host port");
CRT_STATIC_ASSERT(sizeof(OsDriveInfo) == OS_DRIVEINFO_SIZE, "OsDriveInfo size");

#endif /* DEVICE_OS_DRIVEINFO_H */
