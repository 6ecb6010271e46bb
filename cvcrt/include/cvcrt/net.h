/* IPv4 addresses and sockets. Thin wrappers over the platform's socket interface:
 * they return the platform's result (0 or a count on success, -1 on failure) and
 * never log; SocketGetErrorVal gives the platform's error number afterwards.
 * CrtInitialize must have started the socket layer. No function locks; each is
 * safe from any thread for distinct sockets. */
#ifndef CVCRT_NET_H
#define CVCRT_NET_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

/* ---- Addresses -------------------------------------------------------------- */

/* Both fields in network byte order; callers byte-swap the port before storing it. */
typedef struct InetAddress {
    uint32_t address;
    uint16_t port;
} InetAddress;

CRT_STATIC_ASSERT(offsetof(InetAddress, address) == 0, "InetAddress.address");
CRT_STATIC_ASSERT(offsetof(InetAddress, port) == 4, "InetAddress.port");
CRT_STATIC_ASSERT(sizeof(InetAddress) == 8, "InetAddress size");

/* 1 and *address set for a valid dotted IPv4 address; 0 otherwise, *address
 * untouched. 255.255.255.255 also yields 0. */
CRT_API int InetIpStringToNum(const char* text, uint32_t* address);
/* Dotted form in per-thread storage that the next call on the thread overwrites. */
CRT_API const char* InetIpNumToString(uint32_t address);
/* 1 and the host's first IPv4 address; 0 when the name does not resolve. */
CRT_API int InetIpNumByName(const char* hostName, uint32_t* address);

/* ---- Sockets ---------------------------------------------------------------- */

#define SOCKET_INVALID (-1)
#define SOCKET_KIND_STREAM 0   /* TCP */
#define SOCKET_KIND_DATAGRAM 1 /* UDP */

/* SocketPollItem event bits. */
#define SOCKET_EVENT_READABLE 0x01
#define SOCKET_EVENT_WRITABLE 0x02
#define SOCKET_EVENT_ERROR 0x80 /* returned only: error or exceptional condition */
/* SocketPoll considers at most this many sockets per set (read, write, exception). */
#define SOCKET_POLL_SET_SIZE 64

typedef struct SocketPollItem {
    int32_t socket;
    uint8_t events;  /* requested: SOCKET_EVENT_READABLE | SOCKET_EVENT_WRITABLE */
    uint8_t revents; /* returned, rewritten by every SocketPoll */
} SocketPollItem;

CRT_STATIC_ASSERT(offsetof(SocketPollItem, socket) == 0, "SocketPollItem.socket");
CRT_STATIC_ASSERT(offsetof(SocketPollItem, events) == 4, "SocketPollItem.events");
CRT_STATIC_ASSERT(offsetof(SocketPollItem, revents) == 5, "SocketPollItem.revents");
CRT_STATIC_ASSERT(sizeof(SocketPollItem) == 8, "SocketPollItem size");

/* kind SOCKET_KIND_STREAM or SOCKET_KIND_DATAGRAM; anything else gives -1. */
CRT_API int32_t SocketCreate(int32_t kind);
CRT_API int SocketDestroy(int32_t socket);
CRT_API int SocketEnableReuseAddr(int32_t socket);
CRT_API int SocketDisableReuseAddr(int32_t socket);
CRT_API int SocketEnableBroadcast(int32_t socket);
CRT_API int SocketDisableBroadcast(int32_t socket);
CRT_API int SocketSetNonBlocking(int32_t socket);
CRT_API int SocketSetBlocking(int32_t socket);
CRT_API int SocketConnect(int32_t socket, InetAddress address);
CRT_API int SocketBind(int32_t socket, InetAddress address);
CRT_API int SocketListen(int32_t socket, int backlog);
/* New socket and the peer's address; -1 on failure with *peer untouched (peer may be null). */
CRT_API int32_t SocketAccept(int32_t socket, InetAddress* peer);
/* The locally bound address (useful after binding port 0); 0 or -1. */
CRT_API int SocketGetLocalAddress(int32_t socket, InetAddress* local);

/* One platform call each. SocketRecv gives 0 when the peer closed. Writing to a
 * closed peer fails with -1 and never raises a signal. */
CRT_API int SocketSend(int32_t socket, const void* data, int length);
CRT_API int SocketRecv(int32_t socket, void* buffer, int length);
/* Sends until everything is sent: the full length, or the first negative result. */
CRT_API int SocketSendAll(int32_t socket, const void* data, int length);
/* Receives until the buffer is full: the full length, or the first result <= 0
 * (0: the peer closed first; bytes already received stay in the buffer). */
CRT_API int SocketRecvAll(int32_t socket, void* buffer, int length);
CRT_API int SocketSendDatagram(int32_t socket, const void* data, int length, InetAddress to);
/* from may be null. */
CRT_API int SocketRecvDatagram(int32_t socket, void* buffer, int size, InetAddress* from);

/* Waits up to milliseconds for the requested readiness and rewrites every item's
 * revents; every item is watched for errors. Returns the number of readiness bits
 * set over all items, 0 on time-out, -1 on error. */
CRT_API int SocketPoll(SocketPollItem* items, int count, int milliseconds);
/* Zero-time-out checks: 1 / 0. */
CRT_API int SocketIsReadable(int32_t socket);
CRT_API int SocketIsWritable(int32_t socket);

CRT_API int SocketGetErrorVal(void);
/* Always "N/A". */
CRT_API const char* SocketGetErrorString(void);

#endif /* CVCRT_NET_H */
