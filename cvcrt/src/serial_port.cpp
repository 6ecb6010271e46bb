// Serial ports on termios. The port keeps the terminal attributes found at open
// and puts them back at close, so the device is left as it was found.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <memory>

#include "cvcrt/serial.h"
#include "guard.h"
#include "serial_lines.h"

struct SerialPort {
    int fd = -1;
    termios saved{};
    cvcrt::SavedLineControl savedLines;
    bool rtsToggle = false;  // the driver raises RTS while sending
    SerialPortSettings settings{};
};

namespace {

constexpr std::array<speed_t, 11> kIndexedRates{B110,  B300,  B600,   B1200,  B2400, B4800,
                                                B9600, B19200, B38400, B57600, B115200};

struct LiteralRate {
    int32_t rate;
    speed_t code;
};
// Rates above 115200 that the terminal interface can name; any other is set
// through the kernel's arbitrary-rate interface.
constexpr LiteralRate kLiteralRates[] = {
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

bool IsUsable(const SerialPort* port) { return port != nullptr && port != SERIAL_PORT_INVALID; }

bool ValidRate(int32_t baud) {
    return (baud >= 0 && baud < static_cast<int32_t>(kIndexedRates.size())) || baud > 115200;
}

// The speed constant for a rate, false for a literal rate that has none.
bool RateCode(int32_t baud, speed_t* code) {
    if (baud >= 0 && baud < static_cast<int32_t>(kIndexedRates.size())) {
        *code = kIndexedRates[static_cast<size_t>(baud)];
        return true;
    }
    for (const LiteralRate& entry : kLiteralRates) {
        if (entry.rate == baud) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

bool ValidFields(const SerialPortSettings& s) {
    return s.flowControl >= SERIAL_FLOW_NONE && s.flowControl <= SERIAL_FLOW_RTS_TOGGLE &&
           s.dataFormat >= SERIAL_FORMAT_8N1 && s.dataFormat <= SERIAL_FORMAT_7O1;
}

// Raw bytes: no line editing, echo, signals, translation, stripping or error marking.
void MakeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
}

// RTS toggle is the driver's RS-485 mode, set apart from the attributes.
void ApplyFlowControl(termios& t, int32_t flow) {
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (flow == SERIAL_FLOW_XONXOFF) t.c_iflag |= IXON | IXOFF;
    if (flow == SERIAL_FLOW_RTSCTS) t.c_cflag |= CRTSCTS;
}

void ApplyDataFormat(termios& t, int32_t format) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    switch (format) {
        case SERIAL_FORMAT_7E1: t.c_cflag |= CS7 | PARENB; t.c_iflag |= INPCK; break;
        case SERIAL_FORMAT_7O1: t.c_cflag |= CS7 | PARENB | PARODD; t.c_iflag |= INPCK; break;
        default: t.c_cflag |= CS8; break;
    }
}

// < 0: a read blocks until something arrives. Otherwise the terminal returns at
// once with what is there, and a positive inter-character time-out is kept by
// SerialPortRecv itself: the terminal's own timer stops at 25.5 s.
void ApplyReadTimeout(termios& t, int32_t tenths) {
    t.c_cc[VMIN] = tenths < 0 ? 1 : 0;
    t.c_cc[VTIME] = 0;
}

// Waits up to `milliseconds` (-1: without limit) for input; false on time-out.
bool WaitForInput(int fd, long long milliseconds) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(milliseconds));
        if (ready >= 0) return ready > 0;
        if (errno != EINTR) return true;  // let the read report the failure
    }
}

// A read with an inter-character time-out: waits for the first byte, then
// takes bytes until the buffer is full or none follows within the time-out.
int ReadWithInterval(int fd, char* buffer, int length, int32_t tenths) {
    const long long interval = static_cast<long long>(tenths) * 100;
    int have = 0;
    while (have < length) {
        if (!WaitForInput(fd, have == 0 ? -1 : interval)) break;
        const ssize_t got = read(fd, buffer + have, static_cast<size_t>(length - have));
        if (got < 0) {
            if (errno == EINTR) continue;
            return have > 0 ? have : -1;
        }
        if (got == 0) break;
        have += static_cast<int>(got);
    }
    return have;
}

void RaiseModemLines(int fd) {
    // Devices without modem lines (pseudo-terminals, some adapters) refuse this; the
    // setting still applies to everything else.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
}

}  // namespace

int SerialPortGetDefaultPath(int portNumber, char* buffer, size_t length) {
    if (buffer == nullptr || length == 0) return -1;
    // Ports count from 1; the first one is ttyS0.
    if (portNumber < 1) {
        buffer[0] = '\0';
        return -1;
    }
    const int written = snprintf(buffer, length, "/dev/ttyS%d", portNumber - 1);
    buffer[length - 1] = '\0';
    if (written < 0) return -1;
    return static_cast<size_t>(written) < length ? written : static_cast<int>(length - 1);
}

SerialPort* SerialPortOpen(const char* path) {
    if (path == nullptr) return SERIAL_PORT_INVALID;
    auto port = cvcrt::NoThrow<std::unique_ptr<SerialPort>>(nullptr, [] { return std::make_unique<SerialPort>(); });
    if (port == nullptr) return SERIAL_PORT_INVALID;
    port->fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port->fd < 0) return SERIAL_PORT_INVALID;
    const bool claimed = ioctl(port->fd, TIOCEXCL) == 0;
    bool saved = claimed && tcgetattr(port->fd, &port->saved) == 0;
    if (saved) cvcrt::SaveLineControl(port->fd, &port->savedLines);
    const SerialPortSettings defaults{6, SERIAL_FLOW_NONE, SERIAL_FORMAT_8N1, 0};
    if (saved && SerialPortSetSettings(port.get(), &defaults) == 0) return port.release();

    const int error = errno;
    if (saved) {
        tcsetattr(port->fd, TCSANOW, &port->saved);
        cvcrt::RestoreLineControl(port->fd, port->savedLines);
    }
    if (claimed) ioctl(port->fd, TIOCNXCL);
    close(port->fd);
    errno = error;
    return SERIAL_PORT_INVALID;
}

void SerialPortClose(SerialPort* port) {
    if (!IsUsable(port)) return;
    const std::unique_ptr<SerialPort> owned(port);
    tcsetattr(port->fd, TCSANOW, &port->saved);
    cvcrt::RestoreLineControl(port->fd, port->savedLines);
    ioctl(port->fd, TIOCNXCL);
    close(port->fd);
}

void SerialPortGetSettings(const SerialPort* port, SerialPortSettings* settings) {
    if (!IsUsable(port) || settings == nullptr) return;
    *settings = port->settings;
}

int SerialPortSetSettings(SerialPort* port, const SerialPortSettings* settings) {
    if (!IsUsable(port) || settings == nullptr || !ValidFields(*settings)) {
        errno = EINVAL;
        return -1;
    }
    if (!ValidRate(settings->baud)) {
        errno = EINVAL;
        return -1;
    }
    // The driver's RTS mode first: a device without one refuses RTS toggle
    // before anything has changed.
    const bool rtsToggle = settings->flowControl == SERIAL_FLOW_RTS_TOGGLE;
    if (rtsToggle != port->rtsToggle) {
        if (cvcrt::SetRtsToggle(port->fd, rtsToggle) != 0) return -1;
        port->rtsToggle = rtsToggle;
    }
    termios t{};
    if (tcgetattr(port->fd, &t) != 0) return -1;
    MakeRaw(t);
    ApplyFlowControl(t, settings->flowControl);
    ApplyDataFormat(t, settings->dataFormat);
    ApplyReadTimeout(t, settings->readTimeout);
    speed_t rate = B9600;
    const bool named = RateCode(settings->baud, &rate);
    if (cfsetispeed(&t, rate) != 0 || cfsetospeed(&t, rate) != 0) return -1;
    if (tcsetattr(port->fd, TCSANOW, &t) != 0) return -1;
    if (!named && cvcrt::SetArbitraryRate(port->fd, settings->baud) != 0) return -1;
    RaiseModemLines(port->fd);
    port->settings = *settings;
    return 0;
}

int SerialPortSend(SerialPort* port, const void* data, int length) {
    if (!IsUsable(port) || data == nullptr || length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(write(port->fd, data, static_cast<size_t>(length)));
}

int SerialPortRecv(SerialPort* port, void* buffer, int length) {
    if (!IsUsable(port) || buffer == nullptr || length < 0) {
        errno = EINVAL;
        return -1;
    }
    if (port->settings.readTimeout > 0 && length > 0)
        return ReadWithInterval(port->fd, static_cast<char*>(buffer), length, port->settings.readTimeout);
    return static_cast<int>(read(port->fd, buffer, static_cast<size_t>(length)));
}

int SerialPortSendAll(SerialPort* port, const void* data, int length) {
    const char* next = static_cast<const char*>(data);
    int remaining = length;
    while (remaining > 0) {
        const int written = SerialPortSend(port, next, remaining);
        if (written < 0) return -1;
        next += written;
        remaining -= written;
    }
    return length;
}

int SerialPortRecvAll(SerialPort* port, void* buffer, int length) {
    char* next = static_cast<char*>(buffer);
    int remaining = length;
    while (remaining > 0) {
        const int received = SerialPortRecv(port, next, remaining);
        if (received < 0) return -1;
        if (received == 0 && remaining == length) return 0;
        next += received;
        remaining -= received;
    }
    return length;
}

int SerialPortPoll(SerialPortPollItem* items, int count) {
    for (int i = 0; items != nullptr && i < count; ++i) items[i].revents = 0;
    return 0;
}

int SerialPortIsReadable(SerialPort*) { return 0; }
int SerialPortIsWritable(SerialPort*) { return 0; }
int SerialPortGetErrorVal(void) { return errno; }
const char* SerialPortGetErrorString(void) { return "N/A"; }
