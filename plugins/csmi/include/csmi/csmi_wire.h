/* The CSMI SAS request buffers as a host adapter's driver reads and writes
 * them: every request is one buffer that starts with a 28-byte header and is
 * answered in place. The fields named here are the ones cvpl-csmi fills or
 * reads; the reserved bytes between them keep the driver's layout. Shared by
 * the plug-in and the simulated driver so that both read the same bytes.
 * All multi-byte fields are little-endian except the SSP response length. */
#ifndef CSMI_CSMI_WIRE_H
#define CSMI_CSMI_WIRE_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt/api.h>

#define CSMI_HEADER_SIZE 28
#define CSMI_TIMEOUT_SECONDS 60
#define CSMI_SIGNATURE_SAS "CSMISAS"
#define CSMI_SIGNATURE_ALL "CSMIALL"

/* Control codes. */
#define CSMI_CC_GET_DRIVER_INFO 1 /* signature "CSMIALL" */
#define CSMI_CC_GET_PHY_INFO 20
#define CSMI_CC_SSP_PASSTHRU 24
#define CSMI_CC_STP_PASSTHRU 25

/* Return codes in the header. */
#define CSMI_STATUS_SUCCESS 0
#define CSMI_STATUS_FAILED 1
#define CSMI_STATUS_BAD_CONTROL_CODE 2
#define CSMI_STATUS_INVALID_PARAMETER 3
#define CSMI_STATUS_PHY_DOES_NOT_EXIST 2000

/* Buffer sizes: fixed, or the fixed part plus the data length n. */
#define CSMI_DRIVER_INFO_BUFFER_SIZE 204
#define CSMI_PHY_INFO_BUFFER_SIZE 2080
#define CSMI_STP_BUFFER_SIZE(n) (167u + (n))
#define CSMI_STP_RESET_BUFFER_SIZE 168
#define CSMI_SSP_BUFFER_SIZE(n) (371u + (n))
#define CSMI_STP_DATA_OFFSET 164
#define CSMI_SSP_DATA_OFFSET 368

#define CSMI_MAX_PHYS 32
#define CSMI_FIS_SIZE 20
#define CSMI_SSP_CDB_SIZE 16
#define CSMI_SSP_ADDITIONAL_CDB_SIZE 24
#define CSMI_SSP_RESPONSE_SIZE 256

/* Phy entries. */
#define CSMI_DEVICE_END_DEVICE 0x10 /* attached device type */
#define CSMI_PROTOCOL_SATA 0x01     /* attached target protocol */
#define CSMI_PROTOCOL_SMP 0x02
#define CSMI_PROTOCOL_STP 0x04
#define CSMI_PROTOCOL_SSP 0x08
#define CSMI_PORT_IDENTIFIER_UNKNOWN 0xFF

/* STP flags. */
#define CSMI_STP_NO_DATA 0x004u
#define CSMI_STP_PIO_READ 0x011u
#define CSMI_STP_PIO_WRITE 0x012u
#define CSMI_STP_DMA_READ 0x021u
#define CSMI_STP_DMA_WRITE 0x022u
#define CSMI_STP_RESET_DEVICE 0x200u

/* SSP flags. */
#define CSMI_SSP_READ 0x1u
#define CSMI_SSP_WRITE 0x2u
#define CSMI_SSP_NO_DATA 0x4u

/* Host-to-device register FIS. */
#define CSMI_FIS_TYPE_H2D 0x27
#define CSMI_FIS_COMMAND_BIT 0x80

#pragma pack(push, 1)

typedef struct CsmiHeader {
    uint32_t headerLength; /* 28 */
    uint8_t signature[8];  /* "CSMISAS" or "CSMIALL", NUL-padded */
    uint32_t timeout;      /* seconds */
    uint32_t controlCode;
    uint32_t returnCode;   /* 0 on entry */
    uint32_t length;       /* buffer size minus 28 */
} CsmiHeader;

typedef struct CsmiDriverInfoBuffer {
    CsmiHeader header;
    char name[81];
    char description[81];
    uint16_t majorRevision;
    uint16_t minorRevision;
    uint16_t buildRevision;
    uint16_t releaseRevision;
    uint16_t csmiMajorRevision;
    uint16_t csmiMinorRevision;
    uint8_t reserved202[2];
} CsmiDriverInfoBuffer;

/* What a phy, or the device attached to it, says of itself. */
typedef struct CsmiIdentify {
    uint8_t deviceType;
    uint8_t restricted1;
    uint8_t initiatorProtocol;
    uint8_t targetProtocol;
    uint8_t restricted4[8];
    uint8_t sasAddress[8]; /* as the driver reports it, most significant byte first */
    uint8_t phyIdentifier;
    uint8_t signalClass;
    uint8_t reserved22[2];
} CsmiIdentify;

typedef struct CsmiPhyEntry {
    CsmiIdentify identify; /* the phy's own */
    uint8_t reserved24[4];
    uint8_t portIdentifier; /* 0xFF: not known */
    uint8_t negotiatedLinkRate;
    uint8_t minimumLinkRate;
    uint8_t maximumLinkRate;
    uint8_t phyChangeCount;
    uint8_t autoDiscover;
    uint8_t reserved34[2];
    CsmiIdentify attached;
    uint8_t reserved60[4];
} CsmiPhyEntry;

typedef struct CsmiPhyInfoBuffer {
    CsmiHeader header;
    uint8_t numberOfPhys;
    uint8_t reserved29[3];
    CsmiPhyEntry phys[CSMI_MAX_PHYS];
} CsmiPhyInfoBuffer;

/* The fixed part of an STP pass-through buffer; the data follows at 164. */
typedef struct CsmiStpBuffer {
    CsmiHeader header;
    uint8_t phyIdentifier;
    uint8_t portIdentifier;
    uint8_t connectionRate; /* 0: negotiated */
    uint8_t reserved31;
    uint8_t destinationSasAddress[8];
    uint8_t reserved40[4];
    uint8_t commandFis[CSMI_FIS_SIZE];
    uint32_t flags; /* CSMI_STP_* */
    uint32_t dataLength;
    uint8_t connectionStatus;
    uint8_t reserved73[3];
    uint8_t statusFis[CSMI_FIS_SIZE];
    uint32_t scr[16];
    uint32_t dataBytes;
} CsmiStpBuffer;

/* The fixed part of an SSP pass-through buffer; the data follows at 368. */
typedef struct CsmiSspBuffer {
    CsmiHeader header;
    uint8_t phyIdentifier;
    uint8_t portIdentifier;
    uint8_t connectionRate; /* 0: negotiated */
    uint8_t reserved31;
    uint8_t destinationSasAddress[8];
    uint8_t logicalUnit[8];
    uint8_t cdbLength;
    uint8_t additionalCdbLength; /* in 4-byte words */
    uint8_t reserved50[2];
    uint8_t cdb[CSMI_SSP_CDB_SIZE];
    uint32_t flags; /* CSMI_SSP_* */
    uint8_t additionalCdb[CSMI_SSP_ADDITIONAL_CDB_SIZE];
    uint32_t dataLength;
    uint8_t connectionStatus;
    uint8_t reserved101[3];
    uint8_t dataPresent;
    uint8_t status;            /* the SCSI status byte */
    uint8_t responseLength[2]; /* big-endian */
    uint8_t response[CSMI_SSP_RESPONSE_SIZE];
    uint32_t dataBytes;
} CsmiSspBuffer;

#pragma pack(pop)

CRT_STATIC_ASSERT(offsetof(CsmiHeader, headerLength) == 0, "CsmiHeader.headerLength");
CRT_STATIC_ASSERT(offsetof(CsmiHeader, signature) == 4, "CsmiHeader.signature");
CRT_STATIC_ASSERT(offsetof(CsmiHeader, timeout) == 12, "CsmiHeader.timeout");
CRT_STATIC_ASSERT(offsetof(CsmiHeader, controlCode) == 16, "CsmiHeader.controlCode");
CRT_STATIC_ASSERT(offsetof(CsmiHeader, returnCode) == 20, "CsmiHeader.returnCode");
CRT_STATIC_ASSERT(offsetof(CsmiHeader, length) == 24, "CsmiHeader.length");
CRT_STATIC_ASSERT(sizeof(CsmiHeader) == CSMI_HEADER_SIZE, "CsmiHeader size");

CRT_STATIC_ASSERT(offsetof(CsmiDriverInfoBuffer, name) == 28, "CsmiDriverInfoBuffer.name");
CRT_STATIC_ASSERT(offsetof(CsmiDriverInfoBuffer, description) == 109, "CsmiDriverInfoBuffer.description");
CRT_STATIC_ASSERT(offsetof(CsmiDriverInfoBuffer, majorRevision) == 190, "CsmiDriverInfoBuffer.majorRevision");
CRT_STATIC_ASSERT(offsetof(CsmiDriverInfoBuffer, csmiMinorRevision) == 200, "CsmiDriverInfoBuffer.csmiMinorRevision");
CRT_STATIC_ASSERT(sizeof(CsmiDriverInfoBuffer) == CSMI_DRIVER_INFO_BUFFER_SIZE, "CsmiDriverInfoBuffer size");

CRT_STATIC_ASSERT(offsetof(CsmiIdentify, deviceType) == 0, "CsmiIdentify.deviceType");
CRT_STATIC_ASSERT(offsetof(CsmiIdentify, targetProtocol) == 3, "CsmiIdentify.targetProtocol");
CRT_STATIC_ASSERT(offsetof(CsmiIdentify, sasAddress) == 12, "CsmiIdentify.sasAddress");
CRT_STATIC_ASSERT(offsetof(CsmiIdentify, phyIdentifier) == 20, "CsmiIdentify.phyIdentifier");
CRT_STATIC_ASSERT(sizeof(CsmiIdentify) == 24, "CsmiIdentify size");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, identify) + offsetof(CsmiIdentify, phyIdentifier) == 20, "phy identifier");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, portIdentifier) == 28, "CsmiPhyEntry.portIdentifier");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, attached) == 36, "CsmiPhyEntry.attached");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, attached) + offsetof(CsmiIdentify, targetProtocol) == 39, "target protocol");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, attached) + offsetof(CsmiIdentify, sasAddress) == 48, "attached address");
CRT_STATIC_ASSERT(offsetof(CsmiPhyEntry, attached) + offsetof(CsmiIdentify, phyIdentifier) == 56, "attached phy");
CRT_STATIC_ASSERT(sizeof(CsmiPhyEntry) == 64, "CsmiPhyEntry size");
CRT_STATIC_ASSERT(offsetof(CsmiPhyInfoBuffer, numberOfPhys) == 28, "CsmiPhyInfoBuffer.numberOfPhys");
CRT_STATIC_ASSERT(offsetof(CsmiPhyInfoBuffer, phys) == 32, "CsmiPhyInfoBuffer.phys");
CRT_STATIC_ASSERT(sizeof(CsmiPhyInfoBuffer) == CSMI_PHY_INFO_BUFFER_SIZE, "CsmiPhyInfoBuffer size");

CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, phyIdentifier) == 28, "CsmiStpBuffer.phyIdentifier");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, portIdentifier) == 29, "CsmiStpBuffer.portIdentifier");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, connectionRate) == 30, "CsmiStpBuffer.connectionRate");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, destinationSasAddress) == 32, "CsmiStpBuffer.destinationSasAddress");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, commandFis) == 44, "CsmiStpBuffer.commandFis");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, flags) == 64, "CsmiStpBuffer.flags");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, dataLength) == 68, "CsmiStpBuffer.dataLength");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, statusFis) == 76, "CsmiStpBuffer.statusFis");
CRT_STATIC_ASSERT(offsetof(CsmiStpBuffer, dataBytes) == 160, "CsmiStpBuffer.dataBytes");
CRT_STATIC_ASSERT(sizeof(CsmiStpBuffer) == CSMI_STP_DATA_OFFSET, "CsmiStpBuffer size");

CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, phyIdentifier) == 28, "CsmiSspBuffer.phyIdentifier");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, portIdentifier) == 29, "CsmiSspBuffer.portIdentifier");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, connectionRate) == 30, "CsmiSspBuffer.connectionRate");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, destinationSasAddress) == 32, "CsmiSspBuffer.destinationSasAddress");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, logicalUnit) == 40, "CsmiSspBuffer.logicalUnit");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, cdbLength) == 48, "CsmiSspBuffer.cdbLength");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, additionalCdbLength) == 49, "CsmiSspBuffer.additionalCdbLength");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, cdb) == 52, "CsmiSspBuffer.cdb");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, flags) == 68, "CsmiSspBuffer.flags");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, additionalCdb) == 72, "CsmiSspBuffer.additionalCdb");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, dataLength) == 96, "CsmiSspBuffer.dataLength");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, status) == 105, "CsmiSspBuffer.status");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, responseLength) == 106, "CsmiSspBuffer.responseLength");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, response) == 108, "CsmiSspBuffer.response");
CRT_STATIC_ASSERT(offsetof(CsmiSspBuffer, dataBytes) == 364, "CsmiSspBuffer.dataBytes");
CRT_STATIC_ASSERT(sizeof(CsmiSspBuffer) == CSMI_SSP_DATA_OFFSET, "CsmiSspBuffer size");

#endif /* CSMI_CSMI_WIRE_H */
