/* The LSI StoreLib libraries as this system calls them. There is one library per
 * controller family, each with a single command entry point that takes a command
 * record and returns a 32-bit status (0: success). On Linux they are shared
 * libraries looked up by the file names below, the entry point by its name.
 * Multi-byte fields are little-endian; every record is byte packed. */
#ifndef STORELIB_STORELIB_API_H
#define STORELIB_STORELIB_API_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt/api.h>

/* Library file names by family (library index 0, 1, 2 and 4; family 3, the
 * out-of-band one, has no library and answers STORELIB_STATUS_NO_LIBRARY). */
#define STORELIB_LIBRARY_MEGARAID "libstorelib.so"
#define STORELIB_LIBRARY_SAS1 "libstorelibir.so"
#define STORELIB_LIBRARY_SAS2 "libstorelibir-2.so"
#define STORELIB_LIBRARY_SAS3 "libstorelibir-3.so"
#define STORELIB_FAMILY_COUNT 5
#define STORELIB_FAMILY_OUT_OF_BAND 3

/* The command entry point every library exports. */
#define STORELIB_ENTRY_POINT "StoreLibCommand"
typedef uint32_t (*StoreLibCommandFunction)(void* command);

#define STORELIB_STATUS_SUCCESS 0u
#define STORELIB_STATUS_NO_LIBRARY 0x8119u

/* Command classes and commands. */
#define STORELIB_CLASS_LIBRARY 0
#define STORELIB_CLASS_CONTROLLER 1
#define STORELIB_CLASS_PHYSICAL_DEVICE 2
#define STORELIB_CLASS_PASS_THROUGH 6

#define STORELIB_LIBRARY_INITIALIZE 0
#define STORELIB_LIBRARY_CONTROLLER_LIST 3
#define STORELIB_LIBRARY_VERSION 4
#define STORELIB_LIBRARY_UNINITIALIZE 9
#define STORELIB_CONTROLLER_INFO 0
#define STORELIB_CONTROLLER_DEVICE_LIST 4
#define STORELIB_DEVICE_INFO 0
#define STORELIB_PASS_THROUGH_SCSI 0
#define STORELIB_PASS_THROUGH_STP 2
#define STORELIB_PASS_THROUGH_PHY_INFO 3

/* Data sizes of the commands. */
#define STORELIB_INITIALIZE_DATA_SIZE 260
#define STORELIB_VERSION_DATA_SIZE 15
#define STORELIB_CONTROLLER_LIST_SIZE 260
#define STORELIB_CONTROLLER_LIST_CAPACITY 64 /* 32-bit IDs from offset 4 */
#define STORELIB_CONTROLLER_INFO_SIZE 2048
#define STORELIB_CONTROLLER_LOCATION_OFFSET 1424 /* text naming the controller's location */
#define STORELIB_CONTROLLER_LOCATION_SIZE 16
#define STORELIB_PHY_REQUEST_SIZE 36
#define STORELIB_PHY_INFO_SIZE 264
#define STORELIB_DEVICE_LIST_SIZE 6152
#define STORELIB_DEVICE_LIST_CAPACITY 256
#define STORELIB_DEVICE_INFO_SIZE 512
#define STORELIB_DEVICE_INFO_INTERFACE_OFFSET 188 /* 16-bit; the interface class in its top four bits */
#define STORELIB_STP_REQUEST_SIZE 68              /* the data follows */
#define STORELIB_SCSI_REQUEST_SIZE 65             /* the data starts at 64 */
#define STORELIB_SCSI_DATA_OFFSET 64
#define STORELIB_SCSI_CDB_CAPACITY 48

/* The library index is the top byte of a controller ID. */
#define STORELIB_CONTROLLER_FAMILY(id) ((uint32_t)(id) >> 24)

/* Interface class of a physical device (device information, offset 188). */
#define STORELIB_INTERFACE_SAS_1 1
#define STORELIB_INTERFACE_SAS 2
#define STORELIB_INTERFACE_SATA 3

/* STP request: direction and protocol flags. */
#define STORELIB_STP_DIRECTION_NONE 0
#define STORELIB_STP_DIRECTION_OUT 1
#define STORELIB_STP_DIRECTION_IN 2
#define STORELIB_STP_NON_DATA 0x04u
#define STORELIB_STP_PIO_IN 0x11u
#define STORELIB_STP_PIO_OUT 0x12u
#define STORELIB_STP_DMA_IN 0x21u
#define STORELIB_STP_DMA_OUT 0x22u
#define STORELIB_STP_BLOCK_IN 0x81u
#define STORELIB_STP_BLOCK_OUT 0x82u
#define STORELIB_STP_DATA_OFFSET 28 /* of the data behind the response area */
#define STORELIB_FIS_REGISTER_H2D 0x27u
#define STORELIB_FIS_REGISTER_D2H 0x34u
#define STORELIB_FIS_COMMAND_BIT 0x80u

/* SCSI request: direction. */
#define STORELIB_SCSI_DIRECTION_NONE 0
#define STORELIB_SCSI_DIRECTION_OUT 1
#define STORELIB_SCSI_DIRECTION_IN 2
#define STORELIB_SCSI_DIRECTION_BOTH 3
#define STORELIB_SENSE_CAPACITY 252

#pragma pack(push, 1)

/* The command record. Pass-through commands may name a sense buffer; the
 * library writes the sense data of a SCSI command there. */
typedef struct StoreLibCommandRecord {
    uint8_t commandClass;
    uint8_t command;
    uint8_t reserved2[2];
    uint32_t controllerId;
    uint16_t deviceId;
    uint8_t reserved10[18];
    uint32_t dataSize;
    void* data;
    void* sense;         /* SCSI pass-through: STORELIB_SENSE_CAPACITY bytes, may be null */
    uint32_t senseSize;
    uint8_t reserved52[12];
} StoreLibCommandRecord;

/* Get PHY connection information: the parameter of command (6, 3). */
typedef struct StoreLibPhyRequest {
    uint32_t size;        /* 264 */
    uint32_t signature;   /* 0x07010000 */
    uint8_t reserved8[4];
    uint8_t kind;         /* 2 */
    uint8_t reserved13[15];
    void* buffer;         /* STORELIB_PHY_INFO_SIZE bytes */
} StoreLibPhyRequest;

/* One entry of the physical device list. */
typedef struct StoreLibDeviceEntry {
    uint16_t deviceId;
    uint8_t reserved2[3];
    uint8_t slot;
    uint8_t deviceType; /* 0: a disk; others (enclosures, ...) are not drives */
    uint8_t reserved7[17];
} StoreLibDeviceEntry;

typedef struct StoreLibDeviceList {
    uint32_t reserved0;
    uint32_t count;
    StoreLibDeviceEntry entries[STORELIB_DEVICE_LIST_CAPACITY];
} StoreLibDeviceList;

/* STP pass-through (6, 2): a host-to-device register FIS in, the device-to-host
 * register FIS back in the response area; the data follows the request. */
typedef struct StoreLibStpRequest {
    uint8_t deviceId;
    uint8_t direction;       /* STORELIB_STP_DIRECTION_* */
    uint16_t timeoutSeconds;
    uint32_t protocolFlags;  /* STORELIB_STP_* */
    uint8_t commandFis[20];
    uint8_t reserved28[4];
    uint32_t dataOffset;     /* STORELIB_STP_DATA_OFFSET */
    uint32_t dataLength;
    uint8_t response[6];
    uint8_t responseFis[22]; /* from offset 46: type, flags, status, error, ... */
} StoreLibStpRequest;

/* SCSI pass-through (6, 0); the data starts at STORELIB_SCSI_DATA_OFFSET. The
 * library answers the SCSI status, the sense length and the bytes moved. */
typedef struct StoreLibScsiRequest {
    uint16_t deviceId;
    uint8_t one;              /* 1 */
    uint8_t logicalUnit;      /* first byte of the SAM logical unit number */
    uint8_t direction;        /* STORELIB_SCSI_DIRECTION_* */
    uint8_t scsiStatus;       /* out */
    uint8_t senseLength;      /* out */
    uint8_t reserved7;
    uint16_t timeoutSeconds;
    uint8_t reserved10;
    uint8_t cdbLength;
    uint8_t cdb[STORELIB_SCSI_CDB_CAPACITY];
    uint32_t dataLength;      /* in: bytes to move; out: bytes moved */
    uint8_t reserved64;
} StoreLibScsiRequest;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, commandClass) == 0, "StoreLibCommandRecord.commandClass");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, command) == 1, "StoreLibCommandRecord.command");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, controllerId) == 4, "StoreLibCommandRecord.controllerId");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, deviceId) == 8, "StoreLibCommandRecord.deviceId");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, dataSize) == 28, "StoreLibCommandRecord.dataSize");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, data) == 32, "StoreLibCommandRecord.data");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, sense) == 40, "StoreLibCommandRecord.sense");
CRT_STATIC_ASSERT(offsetof(StoreLibCommandRecord, senseSize) == 48, "StoreLibCommandRecord.senseSize");
CRT_STATIC_ASSERT(sizeof(StoreLibCommandRecord) == 64, "StoreLibCommandRecord size");

CRT_STATIC_ASSERT(offsetof(StoreLibPhyRequest, signature) == 4, "StoreLibPhyRequest.signature");
CRT_STATIC_ASSERT(offsetof(StoreLibPhyRequest, kind) == 12, "StoreLibPhyRequest.kind");
CRT_STATIC_ASSERT(offsetof(StoreLibPhyRequest, buffer) == 28, "StoreLibPhyRequest.buffer");
CRT_STATIC_ASSERT(sizeof(StoreLibPhyRequest) == STORELIB_PHY_REQUEST_SIZE, "StoreLibPhyRequest size");

CRT_STATIC_ASSERT(offsetof(StoreLibDeviceEntry, slot) == 5, "StoreLibDeviceEntry.slot");
CRT_STATIC_ASSERT(offsetof(StoreLibDeviceEntry, deviceType) == 6, "StoreLibDeviceEntry.deviceType");
CRT_STATIC_ASSERT(sizeof(StoreLibDeviceEntry) == 24, "StoreLibDeviceEntry size");
CRT_STATIC_ASSERT(offsetof(StoreLibDeviceList, count) == 4, "StoreLibDeviceList.count");
CRT_STATIC_ASSERT(offsetof(StoreLibDeviceList, entries) == 8, "StoreLibDeviceList.entries");
CRT_STATIC_ASSERT(sizeof(StoreLibDeviceList) == STORELIB_DEVICE_LIST_SIZE, "StoreLibDeviceList size");

CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, direction) == 1, "StoreLibStpRequest.direction");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, timeoutSeconds) == 2, "StoreLibStpRequest.timeoutSeconds");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, protocolFlags) == 4, "StoreLibStpRequest.protocolFlags");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, commandFis) == 8, "StoreLibStpRequest.commandFis");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, dataOffset) == 32, "StoreLibStpRequest.dataOffset");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, dataLength) == 36, "StoreLibStpRequest.dataLength");
CRT_STATIC_ASSERT(offsetof(StoreLibStpRequest, responseFis) == 46, "StoreLibStpRequest.responseFis");
CRT_STATIC_ASSERT(sizeof(StoreLibStpRequest) == STORELIB_STP_REQUEST_SIZE, "StoreLibStpRequest size");

CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, one) == 2, "StoreLibScsiRequest.one");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, logicalUnit) == 3, "StoreLibScsiRequest.logicalUnit");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, direction) == 4, "StoreLibScsiRequest.direction");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, scsiStatus) == 5, "StoreLibScsiRequest.scsiStatus");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, senseLength) == 6, "StoreLibScsiRequest.senseLength");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, timeoutSeconds) == 8, "StoreLibScsiRequest.timeoutSeconds");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, cdbLength) == 11, "StoreLibScsiRequest.cdbLength");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, cdb) == 12, "StoreLibScsiRequest.cdb");
CRT_STATIC_ASSERT(offsetof(StoreLibScsiRequest, dataLength) == 60, "StoreLibScsiRequest.dataLength");
CRT_STATIC_ASSERT(sizeof(StoreLibScsiRequest) == STORELIB_SCSI_REQUEST_SIZE, "StoreLibScsiRequest size");

#endif /* STORELIB_STORELIB_API_H */
