// The largest transfer of one pass-through request, read from the queue
// limits the kernel shows in sysfs.
#pragma once

#include <cstdint>
#include <filesystem>

namespace passthrough {

// One queue directory: max_hw_sectors_kb in bytes, bounded by max_segments
// pages (the pages of a user buffer need not be contiguous, so each one may
// take a segment of its own). 0 when max_hw_sectors_kb cannot be read.
uint64_t queueDirectoryLimit(const std::filesystem::path& queue, uint64_t pageSize);

// The smallest limit of the queues behind a device directory of sysfs: the
// disk's own; the whole disk's for a partition; for a character device (an
// NVMe controller, a SCSI generic node) those of the disks it serves, whose
// queues carry the limits the kernel applies to its pass-through requests.
// 0 when none is found.
uint64_t deviceDirectoryLimit(const std::filesystem::path& device, uint64_t pageSize);

// The kernel's own answer for an open descriptor (the seam's maxTransfer).
int systemMaxTransfer(int fd, uint32_t* bytes);

}  // namespace passthrough
