/* Export and compile-time check macros shared by every cvcrt header. */
#ifndef CVCRT_API_H
#define CVCRT_API_H

#ifdef __cplusplus
#define CRT_API extern "C" __attribute__((visibility("default")))
#else
#define CRT_API __attribute__((visibility("default")))
#endif

/* Usable at file scope in C11 and C++; pins record layouts at compile time. */
#ifdef __cplusplus
#define CRT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define CRT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* The binary records below assume the 64-bit data model the library ships for. */
CRT_STATIC_ASSERT(sizeof(void*) == 8, "cvcrt records are laid out for 64-bit pointers");

#endif /* CVCRT_API_H */
