/* Runtime start-up, build identity, clocks, sleeping and dynamic libraries.
 * Thin wrappers: -1 or null on failure, nothing is logged. */
#ifndef CVCRT_RUNTIME_H
#define CVCRT_RUNTIME_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

/* ---- Start-up and identity ---------------------------------------------- */

/* Starts the socket layer on first use: 0 on success, -1 on failure. Calls do not
 * nest: the first CrtUninitialize after any number of CrtInitialize calls stops it.
 * CrtUninitialize without a running layer does nothing. */
CRT_API int CrtInitialize(void);
CRT_API void CrtUninitialize(void);

#define CRT_ABI 6          /* binary-interface number plug-ins export too */
#define CRT_ARCH 1         /* processor-architecture number plug-ins export too */
#define CRT_PLATFORM 1
#define CRT_ENDIAN 0

CRT_API int CrtGetAbi(void);
CRT_API int CrtGetArch(void);
CRT_API int CrtGetPlatform(void);
CRT_API int CrtGetEndian(void);

/* ---- Clocks --------------------------------------------------------------- */

/* Seconds since 1970-01-01 00:00 UTC and microseconds within the second. */
typedef struct CrtTime {
    int64_t seconds;
    int64_t microseconds; /* 0 ... 999999 */
} CrtTime;

CRT_STATIC_ASSERT(offsetof(CrtTime, seconds) == 0, "CrtTime.seconds");
CRT_STATIC_ASSERT(offsetof(CrtTime, microseconds) == 8, "CrtTime.microseconds");
CRT_STATIC_ASSERT(sizeof(CrtTime) == 16, "CrtTime size");

/* Monotonic counter and its frequency (ticks per second). */
CRT_API uint64_t Ticks(void);
CRT_API uint64_t TicksPerSecond(void);
/* end - start; when the counter went backwards, end - start - 1 (unsigned). */
CRT_API uint64_t TicksElapsed(uint64_t start, uint64_t end);
CRT_API void CrtSystemTime(CrtTime* time);

/* ---- Sleeping ------------------------------------------------------------- */
/* Durations are counted in 100-ns units, at most 2^31 - 1 units (about 214 s) per
 * call; longer requests sleep that maximum, negative ones return at once. */

CRT_API void CrtSleep(int64_t seconds, int64_t nanoseconds);
CRT_API void CrtSleepMili(int64_t milliseconds);
CRT_API void CrtSleepMicro(int64_t microseconds);
CRT_API void CrtSleepNano(int64_t nanoseconds);

/* ---- Dynamic libraries ---------------------------------------------------- */

/* Null on failure. */
CRT_API void* LibraryLoad(const char* fileName);
/* Non-zero on success. */
CRT_API int LibraryUnload(void* library);
/* Functions and data alike; null when absent. */
CRT_API void* LibraryFindSymbol(void* library, const char* name);
/* Writes "<baseName>.so" into the buffer, cut to its length and always terminated
 * when the length is non-zero; returns the length of the full name (snprintf), so a
 * result >= bufferLength means the name was cut. -1 when baseName is null. */
CRT_API int LibraryNormalizeName(const char* baseName, char* buffer, size_t bufferLength);

#endif /* CVCRT_RUNTIME_H */
