// Reads a terminal's output rate as the kernel holds it, arbitrary rates too.
#pragma once

namespace serial_test {

int DeviceRate(int fd);

}  // namespace serial_test
