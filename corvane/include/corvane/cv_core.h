/* Framework core: start-up and shut-down, identifiers, error records and the
 * allocator that every module shares. */
#ifndef CORVANE_CV_CORE_H
#define CORVANE_CV_CORE_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt.h>

#ifdef __cplusplus
#define CV_API extern "C" __attribute__((visibility("default")))
#else
#define CV_API __attribute__((visibility("default")))
#endif

/* printf-style checking of format arguments. */
#define CV_PRINTF(formatIndex, firstArgIndex) __attribute__((format(printf, formatIndex, firstArgIndex)))

/* ---- Identifiers ---------------------------------------------------------- */

/* Identifier of every framework entity, drawn from one sequence by CvNextUID. */
typedef uint32_t CvUID;

/* Stands for "no identifier": stored by registrations before they start and
 * returned by lookups that find nothing. CvNextUID never hands it out. */
#define CV_UID_NONE ((CvUID)0xFFFFFFFFu)

#define CV_UID_LIST_CAPACITY 4096

/* Filled by every list call: a count followed by identifiers in registration
 * order. List calls never write more than CV_UID_LIST_CAPACITY identifiers. */
typedef struct CvUIDList {
    int32_t count;
    CvUID uids[CV_UID_LIST_CAPACITY];
} CvUIDList;

CRT_STATIC_ASSERT(offsetof(CvUIDList, count) == 0, "CvUIDList.count");
CRT_STATIC_ASSERT(offsetof(CvUIDList, uids) == 4, "CvUIDList.uids");
CRT_STATIC_ASSERT(sizeof(CvUIDList) == 4 + 4 * CV_UID_LIST_CAPACITY, "CvUIDList size");

/* ---- Error record --------------------------------------------------------- */

#define CV_ERROR_NONE 0
#define CV_ERROR_INTERNAL 1
#define CV_ERROR_FAILED 2
#define CV_ERROR_NOT_SUPPORTED 3
#define CV_ERROR_INVALID_INPUT 4
#define CV_ERROR_NOT_FOUND 5

#define CV_ERROR_MESSAGE_SIZE 255

/* Owned by the caller and passed as the last argument of almost every call.
 * The last message byte is always 0, so at most 254 characters are kept. */
typedef struct CvError {
    int8_t code; /* low 8 bits of the code given */
    char message[CV_ERROR_MESSAGE_SIZE];
} CvError;

CRT_STATIC_ASSERT(offsetof(CvError, code) == 0, "CvError.code");
CRT_STATIC_ASSERT(offsetof(CvError, message) == 1, "CvError.message");
CRT_STATIC_ASSERT(sizeof(CvError) == 256, "CvError size");

/* ---- Start-up and shut-down ----------------------------------------------- */

/* Starts the runtime, the event managers, the work thread and the registries.
 * Calling it again while the framework runs changes nothing. */
CV_API void CvInitialize(void);
/* Disposes of machines, unloads plug-ins, sweeps the registries, drains the work
 * queue and stops the runtime. 1 on success; 0 when a registry was not running
 * (the registries already shut down in this call are started again, empty). */
CV_API int CvUninitialize(CvError* error);
/* "1.12.4.0" */
CV_API const char* CvGetVersion(void);
/* Next identifier of the process-wide sequence: 0, 1, 2, ... skipping CV_UID_NONE. */
CV_API CvUID CvNextUID(void);

/* ---- Errors --------------------------------------------------------------- */

/* Store the low 8 bits of code and the formatted message (cut to 254 characters).
 * Always 0, so a failing function can end with `return CvSetThreadError(...)`. */
CV_API int CvSetError(CvError* error, int code, const char* format, ...) CV_PRINTF(3, 4);
CV_API int CvSetThreadError(CvError* error, int code, const char* format, ...) CV_PRINTF(3, 4);
/* Clear the record (code 0, empty message). Always 1. */
CV_API int CvSetNoError(CvError* error);
CV_API int CvSetNoThreadError(CvError* error);
/* Logs "<text of the code>: <message>" at the given level. */
CV_API void CvLogThreadError(int level, const CvError* error);

/* ---- Memory shared between modules ---------------------------------------- */

/* Zero-filled; null for a negative size or when memory runs out. */
CV_API void* CvAlloc(int32_t size);
/* Content undefined; null for a negative size or when memory runs out. */
CV_API void* CvAllocWithoutClear(int32_t size);
/* Copy of text allocated like CvAlloc; null for null text. */
CV_API char* CvStrDup(const char* text);
/* Releases what the three above returned; null is ignored. */
CV_API void CvFree(void* memory);

#endif /* CORVANE_CV_CORE_H */
