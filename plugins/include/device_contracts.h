/* The device service contracts shared by the plug-ins and the tool:
 * "ata/device", "scsi/device", "nvme/device" and the "os/driveinfo" record. */
#ifndef DEVICE_CONTRACTS_H
#define DEVICE_CONTRACTS_H

#include "device/device_common.h"
#include "device/ata_device.h"
#include "device/scsi_device.h"
#include "device/nvme_device.h"
#include "device/os_driveinfo.h"

#endif /* DEVICE_CONTRACTS_H */
