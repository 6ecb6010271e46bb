/* Serial ports on the platform's terminal interface. Like the socket wrappers they
 * return -1 (or the invalid handle) on failure and never log. */
#ifndef CVCRT_SERIAL_H
#define CVCRT_SERIAL_H

#include <stddef.h>
#include <stdint.h>

#include "cvcrt/api.h"

typedef struct SerialPort SerialPort;

/* What SerialPortOpen returns on failure: the all-ones pointer value. */
#define SERIAL_PORT_INVALID ((SerialPort*)~(uintptr_t)0)

/* baud: 0 ... 10 select 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600,
 * 115200; above 115200 the rate itself, any rate; 11 ... 115200 and negative are
 * invalid. RTS toggle (raised while sending) needs a driver with an RS-485 mode;
 * elsewhere SerialPortSetSettings refuses it. */
#define SERIAL_FLOW_NONE 0
#define SERIAL_FLOW_XONXOFF 1
#define SERIAL_FLOW_RTSCTS 2
#define SERIAL_FLOW_RTS_TOGGLE 3
#define SERIAL_FORMAT_8N1 0
#define SERIAL_FORMAT_7E1 1
#define SERIAL_FORMAT_7O1 2

typedef struct SerialPortSettings {
    int32_t baud;
    int32_t flowControl;
    int32_t dataFormat;
    /* Tenths of a second: > 0 inter-character time-out (a read waits for its
     * first byte, then returns when the buffer is full or no byte followed within
     * the time-out); 0 reads return at once with what is there; < 0 reads block
     * without time-out. */
    int32_t readTimeout;
} SerialPortSettings;

CRT_STATIC_ASSERT(offsetof(SerialPortSettings, baud) == 0, "SerialPortSettings.baud");
CRT_STATIC_ASSERT(offsetof(SerialPortSettings, flowControl) == 4, "SerialPortSettings.flowControl");
CRT_STATIC_ASSERT(offsetof(SerialPortSettings, dataFormat) == 8, "SerialPortSettings.dataFormat");
CRT_STATIC_ASSERT(offsetof(SerialPortSettings, readTimeout) == 12, "SerialPortSettings.readTimeout");
CRT_STATIC_ASSERT(sizeof(SerialPortSettings) == 16, "SerialPortSettings size");

typedef struct SerialPortPollItem {
    SerialPort* port;
    uint8_t events;
    uint8_t revents;
} SerialPortPollItem;

CRT_STATIC_ASSERT(offsetof(SerialPortPollItem, port) == 0, "SerialPortPollItem.port");
CRT_STATIC_ASSERT(offsetof(SerialPortPollItem, events) == 8, "SerialPortPollItem.events");
CRT_STATIC_ASSERT(offsetof(SerialPortPollItem, revents) == 9, "SerialPortPollItem.revents");
CRT_STATIC_ASSERT(sizeof(SerialPortPollItem) == 16, "SerialPortPollItem size");

/* Writes the device path of port portNumber (counted from 1: port 1 is
 * "/dev/ttyS0") into at most length - 1 bytes and terminates the buffer; returns
 * the length of the text written, -1 for a null buffer, length 0 or a port below 1. */
CRT_API int SerialPortGetDefaultPath(int portNumber, char* buffer, size_t length);
/* Opens an existing device exclusively for reading and writing, saves its state and
 * applies 9600 baud, no flow control, 8N1, read time-out 0. SERIAL_PORT_INVALID on
 * any failure, with the device restored and closed. */
CRT_API SerialPort* SerialPortOpen(const char* path);
/* Restores the saved state and closes. Null and SERIAL_PORT_INVALID are ignored. */
CRT_API void SerialPortClose(SerialPort* port);
CRT_API void SerialPortGetSettings(const SerialPort* port, SerialPortSettings* settings);
/* 0, or -1 for a bad port, null or invalid settings or a device that refuses them. */
CRT_API int SerialPortSetSettings(SerialPort* port, const SerialPortSettings* settings);
CRT_API int SerialPortSend(SerialPort* port, const void* data, int length);
CRT_API int SerialPortRecv(SerialPort* port, void* buffer, int length);
/* The full length, or -1 at the first failed write. */
CRT_API int SerialPortSendAll(SerialPort* port, const void* data, int length);
/* The full length; -1 on a failed read; 0 when the first read returns nothing. */
CRT_API int SerialPortRecvAll(SerialPort* port, void* buffer, int length);
/* Clears every item's revents and returns 0. */
CRT_API int SerialPortPoll(SerialPortPollItem* items, int count);
/* Always 0. */
CRT_API int SerialPortIsReadable(SerialPort* port);
CRT_API int SerialPortIsWritable(SerialPort* port);
CRT_API int SerialPortGetErrorVal(void);
/* Always "N/A". */
CRT_API const char* SerialPortGetErrorString(void);

#endif /* CVCRT_SERIAL_H */
