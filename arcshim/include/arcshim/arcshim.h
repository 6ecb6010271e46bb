/* arcshim: a flat C interface over the controller maker's storage SDK. It
 * keeps a table of the hard drives the SDK reports and sends SCSI commands to
 * a drive by its index in that table. */
#ifndef ARCSHIM_ARCSHIM_H
#define ARCSHIM_ARCSHIM_H

#include <stdint.h>

#if defined(ARCSHIM_BUILDING)
#define ARCSHIM_API __attribute__((visibility("default")))
#else
#define ARCSHIM_API
#endif

/* Direction codes of adaptec_scsiPassThruCommand. */
#define ARCSHIM_DATA_FROM_DRIVE 0
#define ARCSHIM_DATA_TO_DRIVE 1
#define ARCSHIM_NO_DATA 5

/* adaptec_scsiPassThruCommand: no drive has that index. */
#define ARCSHIM_NO_SUCH_DRIVE (-5)

#ifdef __cplusplus
extern "C" {
#endif

/* Builds the drive table from the system configuration; without a system it
 * writes "Adaptec system not found..." to the error stream and leaves the table empty. */
ARCSHIM_API void adaptec_initializeLibrary(void);
/* Entries in the drive table; 0 before initialisation. */
ARCSHIM_API int adaptec_getNumHardDrives(void);
/* 0 on success, ARCSHIM_NO_SUCH_DRIVE when no drive has that index, otherwise
 * the SDK's return code. With ARCSHIM_DATA_FROM_DRIVE the data is copied back
 * only on success. */
ARCSHIM_API int adaptec_scsiPassThruCommand(uint32_t driveIndex, const uint8_t* cdb, int cdbLength, uint8_t* data,
                                            uint32_t dataLength, int direction);
/* Empties the drive table and releases the SDK. */
ARCSHIM_API void adaptec_uninitializeLibrary(void);

#ifdef __cplusplus
}
#endif

#endif /* ARCSHIM_ARCSHIM_H */
