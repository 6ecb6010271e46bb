#include "serial_lines.h"

#include <asm/termbits.h>
#include <errno.h>
#include <linux/serial.h>
#include <string.h>
#include <sys/ioctl.h>

namespace cvcrt {

static_assert(sizeof(serial_rs485) <= sizeof(SavedLineControl::bytes), "room for the RS-485 record");

int SetArbitraryRate(int fd, int rate) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    return ioctl(fd, TCSETS2, &t);
}

void SaveLineControl(int fd, SavedLineControl* saved) {
    serial_rs485 rs485{};
    saved->known = ioctl(fd, TIOCGRS485, &rs485) == 0;
    if (saved->known) memcpy(saved->bytes, &rs485, sizeof rs485);
}

void RestoreLineControl(int fd, const SavedLineControl& saved) {
    if (!saved.known) return;
    serial_rs485 rs485{};
    memcpy(&rs485, saved.bytes, sizeof rs485);
    (void)ioctl(fd, TIOCSRS485, &rs485);
}

int SetRtsToggle(int fd, bool on) {
    serial_rs485 rs485{};
    if (ioctl(fd, TIOCGRS485, &rs485) != 0) {
        // A driver without the mode has it off already.
        return on ? -1 : 0;
    }
    if (on) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    } else {
        if ((rs485.flags & SER_RS485_ENABLED) == 0) return 0;
        rs485.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
    }
    return ioctl(fd, TIOCSRS485, &rs485);
}

}  // namespace cvcrt
