/* Pseudo-random generators, CRC-16 and an 8-bit checksum. No locking: a generator
 * or random-bits state is used by one thread at a time. */
#ifndef CVCRT_RANDOM_H
#define CVCRT_RANDOM_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

/* Lagged-Fibonacci generator with rotation over 17 pairs of 32-bit words. */
typedef struct Random Random;

CRT_API Random* RandomCreate(uint32_t seed);
CRT_API void RandomDestroy(Random* random);
CRT_API uint64_t RandomNext(Random* random);
/* RandomNext modulo n; n == 0 still advances the generator and yields 0. */
CRT_API uint64_t RandomNextScaled(Random* random, uint64_t n);

/* 64-bit shift register advanced a byte at a time; the caller holds the state. */
CRT_API uint8_t RandomBitsNext8(uint64_t* state);
CRT_API uint32_t RandomBitsNext32(uint64_t* state);
/* Fills length bytes (none when length <= 0) and returns the new state. */
CRT_API uint64_t RandomBitsFill(void* buffer, int32_t length, uint64_t state);

/* CRC-16, polynomial 0x1021, initial value 0, unreflected (check value 0x31C3). */
CRT_API uint16_t CRCCreateCCITT16(const void* data, int32_t length);
/* 1 when data ends with its CRC stored high byte first; 1 for length <= 0. */
CRT_API int CRCTestCCITT16(const void* data, int32_t length);
/* Two's complement of the byte sum. */
CRT_API uint8_t ChecksumCreate8(const void* data, int32_t length);
/* 1 when all bytes, checksum included, sum to 0 modulo 256. */
CRT_API int ChecksumTest8(const void* data, int32_t length);

#endif /* CVCRT_RANDOM_H */
