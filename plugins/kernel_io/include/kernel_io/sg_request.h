// What the SG_IO users among the pass-through plug-ins share: the time-out as
// the request takes it, one timed request, and the judgement whether a request
// that the kernel completed reached the device at all.
#pragma once

#include <cstdint>

struct sg_io_hdr;

namespace passthrough {

// The SG_IO time-out in milliseconds: whole seconds of the setting, cut to what
// the header's field holds.
uint32_t sgTimeoutMs(uint64_t timeoutNs);

// Whether a completed request carries the device's answer. A transport
// failure is no answer, whatever the SCSI status says: the host adapter's
// status is not DID_OK, the driver's status (suggestion bits aside) is
// neither 0 nor DRIVER_SENSE (older kernels report a command aborted after its
// time-out with DRIVER_TIMEOUT and nothing else), or the kernel flags a
// problem (SG_INFO_CHECK) that no status or sense explains. 0 for an answer,
// otherwise the errno value that names the failure: ETIMEDOUT for a time-out,
// EIO for the rest.
int sgTransportFailure(const sg_io_hdr& header);

// Sends one SG_IO request through the seam and measures how long it took. 0
// when the device answered (its status and sense are in the header), or the
// errno value of a request the kernel refused (EIO when it set none) or of a
// transport failure (see sgTransportFailure).
int timedSgIo(int fd, sg_io_hdr& header, uint64_t& durationNs);

}  // namespace passthrough
