// One timed SG_IO request.
#include "kernel_io/sg_request.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

#include "kernel_io/kernel_io.h"

namespace passthrough {

uint32_t sgTimeoutMs(uint64_t timeoutNs) {
    constexpr uint64_t kMaxSeconds = std::numeric_limits<uint32_t>::max() / 1000u;
    return static_cast<uint32_t>(std::min<uint64_t>(timeoutNs / 1000000000u, kMaxSeconds) * 1000u);
}

int timedSgIo(int fd, sg_io_hdr& header, uint64_t& durationNs) {
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const int rc = KernelIo_SgIo(fd, &header);
    const int savedErrno = errno;
    durationNs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    if (rc >= 0) return 0;
    return savedErrno != 0 ? savedErrno : EIO;
}

}  // namespace passthrough
