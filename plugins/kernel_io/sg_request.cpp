// One timed SG_IO request and what became of it.
#include "kernel_io/sg_request.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>

#include "kernel_io/kernel_io.h"

namespace passthrough {

namespace {
// Host byte and driver byte values of the SCSI midlayer.
constexpr unsigned kDidOk = 0x00;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverStatusMask = 0x0F;  // the upper bits are suggestions
constexpr unsigned kDriverOk = 0x00;
constexpr unsigned kDriverTimeout = 0x06;
constexpr unsigned kDriverSense = 0x08;
}  // namespace

uint32_t sgTimeoutMs(uint64_t timeoutNs) {
    constexpr uint64_t kMaxSeconds = std::numeric_limits<uint32_t>::max() / 1000u;
    return static_cast<uint32_t>(std::min<uint64_t>(timeoutNs / 1000000000u, kMaxSeconds) * 1000u);
}

int sgTransportFailure(const sg_io_hdr& header) {
    const unsigned host = header.host_status;
    const unsigned driver = header.driver_status & kDriverStatusMask;
    if (host == kDidTimeOut || driver == kDriverTimeout) return ETIMEDOUT;
    if (host != kDidOk || (driver != kDriverOk && driver != kDriverSense)) return EIO;
    const bool explained = header.status != 0 || header.masked_status != 0 || header.sb_len_wr != 0;
    if ((header.info & SG_INFO_CHECK) != 0 && !explained) return EIO;
    return 0;
}

int timedSgIo(int fd, sg_io_hdr& header, uint64_t& durationNs) {
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const int rc = KernelIo_SgIo(fd, &header);
    const int savedErrno = errno;
    durationNs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    if (rc < 0) return savedErrno != 0 ? savedErrno : EIO;
    return sgTransportFailure(header);
}

}  // namespace passthrough
