#include "wakeup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace cvpl_tcpip {

Wakeup::Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wakeup::~Wakeup()
{
    if (fd_ >= 0) close(fd_);
}

void Wakeup::Signal()
{
    if (fd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
}

void Wakeup::Drain()
{
    if (fd_ < 0) return;
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(fd_, &count, sizeof count);
}

}  // namespace cvpl_tcpip
