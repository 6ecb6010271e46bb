// Apart from the tests: the kernel's terminal record clashes with <termios.h>.
#include "serial_rate_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serial_test {

int DeviceRate(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    return static_cast<int>(t.c_ospeed);
}

}  // namespace serial_test
