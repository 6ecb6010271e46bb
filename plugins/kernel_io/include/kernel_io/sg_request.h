// What the SG_IO users among the pass-through plug-ins share: the time-out as
// the request takes it, and one timed request.
#pragma once

#include <cstdint>

struct sg_io_hdr;

namespace passthrough {

// The SG_IO time-out in milliseconds: whole seconds of the setting, cut to what
// the header's field holds.
uint32_t sgTimeoutMs(uint64_t timeoutNs);

// Sends one SG_IO request through the seam and measures how long it took. 0,
// or the errno value of a request the kernel refused (EIO when it set none).
int timedSgIo(int fd, sg_io_hdr& header, uint64_t& durationNs);

}  // namespace passthrough
