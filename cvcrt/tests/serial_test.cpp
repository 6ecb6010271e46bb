// Serial ports, exercised on a pseudo-terminal pair.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cvcrt.h"
#include "serial_rate_probe.h"

namespace {

// The controlling side of a pseudo-terminal; the port opens the other side.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) path_ = ptsname(master_);
    }
    ~Pty() {
        if (master_ >= 0) close(master_);
    }
    const char* Path() const { return path_.c_str(); }
    int Master() const { return master_; }

private:
    int master_ = -1;
    std::string path_;
};

TEST(SerialPortTest, OpensWithDefaultsAndRestoresTheDeviceAtClose) {
    Pty pty;
    ASSERT_FALSE(std::string(pty.Path()).empty());
    // Note the device's state first so that close can be seen restoring it.
    const int probe = open(pty.Path(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(probe, &before), 0);

    SerialPort* port = SerialPortOpen(pty.Path());
    ASSERT_NE(port, SERIAL_PORT_INVALID);
    SerialPortSettings settings{-1, -1, -1, -1};
    SerialPortGetSettings(port, &settings);
    EXPECT_EQ(settings.baud, 6);
    EXPECT_EQ(settings.flowControl, 0);
    EXPECT_EQ(settings.dataFormat, 0);
    EXPECT_EQ(settings.readTimeout, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(probe, &raw), 0);
    EXPECT_EQ(cfgetospeed(&raw), static_cast<speed_t>(B9600));
    EXPECT_EQ(raw.c_lflag & ICANON, 0u);

    SerialPortClose(port);
    termios after{};
    ASSERT_EQ(tcgetattr(probe, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    close(probe);

    EXPECT_EQ(SerialPortOpen("/nonexistent/tty"), SERIAL_PORT_INVALID);
    SerialPortClose(nullptr);
    SerialPortClose(SERIAL_PORT_INVALID);
}

TEST(SerialPortTest, ValidatesAndAppliesSettings) {
    Pty pty;
    SerialPort* port = SerialPortOpen(pty.Path());
    ASSERT_NE(port, SERIAL_PORT_INVALID);

    SerialPortSettings settings{7, SERIAL_FLOW_XONXOFF, SERIAL_FORMAT_7E1, 5};
    ASSERT_EQ(SerialPortSetSettings(port, &settings), 0);
    SerialPortSettings read{};
    SerialPortGetSettings(port, &read);
    EXPECT_EQ(std::memcmp(&read, &settings, sizeof read), 0);

    settings.baud = 230400;
    EXPECT_EQ(SerialPortSetSettings(port, &settings), 0);
    for (int32_t bad : {57600, 11, -1}) {
        settings.baud = bad;
        EXPECT_EQ(SerialPortSetSettings(port, &settings), -1) << bad;
    }
    settings.baud = 6;
    settings.flowControl = 4;
    EXPECT_EQ(SerialPortSetSettings(port, &settings), -1);
    settings.flowControl = 0;
    settings.dataFormat = 3;
    EXPECT_EQ(SerialPortSetSettings(port, &settings), -1);
    EXPECT_EQ(SerialPortSetSettings(port, nullptr), -1);
    EXPECT_EQ(SerialPortSetSettings(SERIAL_PORT_INVALID, &read), -1);

    SerialPortGetSettings(port, &read);
    EXPECT_EQ(read.baud, 230400) << "a refused change keeps the settings";
    SerialPortClose(port);
}

TEST(SerialPortTest, SetsRatesWithoutASpeedConstantAndRefusesAnRtsToggleItCannotDo) {
    Pty pty;
    SerialPort* port = SerialPortOpen(pty.Path());
    ASSERT_NE(port, SERIAL_PORT_INVALID);
    const int probe = open(pty.Path(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    SerialPortSettings settings{250000, SERIAL_FLOW_NONE, SERIAL_FORMAT_8N1, 0};
    ASSERT_EQ(SerialPortSetSettings(port, &settings), 0);
    EXPECT_EQ(serial_test::DeviceRate(probe), 250000);
    settings.baud = 7;
    ASSERT_EQ(SerialPortSetSettings(port, &settings), 0);
    EXPECT_EQ(serial_test::DeviceRate(probe), 19200);

    // A pseudo-terminal has no RS-485 mode: nothing would raise RTS while sending.
    settings.flowControl = SERIAL_FLOW_RTS_TOGGLE;
    EXPECT_EQ(SerialPortSetSettings(port, &settings), -1);
    SerialPortSettings read{};
    SerialPortGetSettings(port, &read);
    EXPECT_EQ(read.flowControl, SERIAL_FLOW_NONE);
    close(probe);
    SerialPortClose(port);
}

TEST(SerialPortTest, ReadTimeoutIsBetweenCharactersAndNotCappedAt25Seconds) {
    Pty pty;
    SerialPort* port = SerialPortOpen(pty.Path());
    ASSERT_NE(port, SERIAL_PORT_INVALID);
    // 30 s: accepted, and a read that fills its buffer does not wait for it.
    SerialPortSettings settings{6, SERIAL_FLOW_NONE, SERIAL_FORMAT_8N1, 300};
    ASSERT_EQ(SerialPortSetSettings(port, &settings), 0);
    ASSERT_EQ(write(pty.Master(), "abcde", 5), 5);
    char buffer[16] = {};
    EXPECT_EQ(SerialPortRecv(port, buffer, 5), 5);
    EXPECT_STREQ(buffer, "abcde");
    // 0.1 s: a read takes what came and returns once nothing more follows.
    settings.readTimeout = 1;
    ASSERT_EQ(SerialPortSetSettings(port, &settings), 0);
    ASSERT_EQ(write(pty.Master(), "fg", 2), 2);
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(SerialPortRecv(port, buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, "fg");
    SerialPortClose(port);
}

TEST(SerialPortTest, MovesBytesBothWays) {
    Pty pty;
    SerialPort* port = SerialPortOpen(pty.Path());
    ASSERT_NE(port, SERIAL_PORT_INVALID);
    char buffer[8] = {};
    EXPECT_EQ(SerialPortRecvAll(port, buffer, 4), 0) << "nothing there, read time-out 0";

    ASSERT_EQ(write(pty.Master(), "hello", 5), 5);
    EXPECT_EQ(SerialPortRecvAll(port, buffer, 5), 5);
    EXPECT_STREQ(buffer, "hello");

    EXPECT_EQ(SerialPortSendAll(port, "world", 5), 5);
    char echoed[8] = {};
    EXPECT_EQ(read(pty.Master(), echoed, 5), 5);
    EXPECT_STREQ(echoed, "world");

    EXPECT_EQ(SerialPortSend(nullptr, "x", 1), -1);
    EXPECT_EQ(SerialPortRecv(port, nullptr, 1), -1);
    SerialPortPollItem item{port, 1, 0xFF};
    EXPECT_EQ(SerialPortPoll(&item, 1), 0);
    EXPECT_EQ(item.revents, 0);
    EXPECT_EQ(SerialPortIsReadable(port), 0);
    EXPECT_STREQ(SerialPortGetErrorString(), "N/A");
    SerialPortClose(port);
}

TEST(SerialPortTest, FormatsTheDefaultPathWithinTheBuffer) {
    char path[32];
    EXPECT_EQ(SerialPortGetDefaultPath(1, path, sizeof path), 10);
    EXPECT_STREQ(path, "/dev/ttyS0");
    EXPECT_EQ(SerialPortGetDefaultPath(3, path, sizeof path), 10);
    EXPECT_STREQ(path, "/dev/ttyS2");
    EXPECT_EQ(SerialPortGetDefaultPath(0, path, sizeof path), -1);
    EXPECT_STREQ(path, "");
    char small[6];
    EXPECT_EQ(SerialPortGetDefaultPath(12, small, sizeof small), 5);
    EXPECT_STREQ(small, "/dev/");
    EXPECT_EQ(SerialPortGetDefaultPath(1, nullptr, 4), -1);
}

}  // namespace
