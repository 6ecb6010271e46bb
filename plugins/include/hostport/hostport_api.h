/* The LSI Fusion-MPT host-port library as this system calls it: port and
 * device enumeration (OS devices plug-in) and SCSI I/O, task management and SAS
 * primitives (SCSI pass-through plug-in). The library is looked up at run time
 * as "libhostport.so"; a machine without it has no host-port path. Ports are
 * opaque pointers to 224-byte records; devices are 16-byte entries. */
#ifndef HOSTPORT_HOSTPORT_API_H
#define HOSTPORT_HOSTPORT_API_H

#include <stdint.h>

#define HOSTPORT_LIBRARY_NAME "libhostport.so"
#define HOSTPORT_MAX_PORTS 64
#define HOSTPORT_MAX_DEVICES 512
#define HOSTPORT_SERIAL_SIZE 256
#define HOSTPORT_PORT_RECORD_SIZE 224
#define HOSTPORT_REQUEST_SIZE 48
#define HOSTPORT_REPLY_SIZE 132
#define HOSTPORT_SCSI_IO_REPLY_SIZE 36 /* the reply proper; sense data follows it */

/* Fusion-MPT SCSI I/O request (48 bytes): byte 0 device word 1, byte 1 device
 * word 0, byte 4 CDB length, bytes 12-19 logical unit, bytes 20-23 control,
 * bytes 24-39 CDB, bytes 40-43 data length. */
#define HOSTPORT_CONTROL_WRITE 0x01000000u
#define HOSTPORT_CONTROL_READ 0x02000000u
/* Fusion-MPT SCSI I/O reply: SCSI status at 12, controller status (16 bits) at
 * 14, transfer count at 20, sense count at 24, task tag at 32. */
#define HOSTPORT_REPLY_SCSI_STATUS 12
#define HOSTPORT_REPLY_IOC_STATUS 14
#define HOSTPORT_REPLY_TRANSFER_COUNT 20
#define HOSTPORT_REPLY_SENSE_COUNT 24
#define HOSTPORT_REPLY_TASK_TAG 32
#define HOSTPORT_IOC_STATUS_DATA_UNDERRUN 0x45u

typedef int (*LsiFindPortsFunction)(void** ports);
typedef int (*LsiScanForDevicesFunction)(void* port, int* count, uint32_t (*devices)[4]);
typedef int (*LsiGetSerialNumberFunction)(void* port, uint32_t word0, uint32_t word1, char* serial);
typedef void (*LsiClosePortFunction)(void* port);
typedef int (*LsiScsiIoFunction)(void* port, uint32_t word0, uint32_t word1, uint32_t zero, void* request,
                                 uint32_t requestLength, void* reply, uint32_t replyLength, void* dataIn,
                                 uint32_t dataInLength, void* dataOut, uint32_t dataOutLength,
                                 uint32_t timeoutSeconds, uint32_t zero2, uint32_t cdbLength, const uint8_t* cdb,
                                 uint32_t control);
typedef int (*LsiScsiTaskManagementFunction)(void* port, uint32_t taskType, uint32_t flags, uint32_t word0,
                                             uint32_t word1, uint32_t word2, uint32_t taskTag,
                                             uint32_t timeoutSeconds, uint8_t* response);
typedef int (*LsiSendSasPrimitiveFunction)(void* port, uint8_t phy, uint32_t primitive, uint32_t mode);

#endif /* HOSTPORT_HOSTPORT_API_H */
