// Queue limits from sysfs.
#include "queue_limit.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

namespace passthrough {

namespace fs = std::filesystem;

namespace {

uint64_t readNumber(const fs::path& file) {
    std::ifstream in(file);
    uint64_t value = 0;
    if (!(in >> value)) return 0;
    return value;
}

// Keeps the smaller of two limits, 0 meaning none.
uint64_t tighter(uint64_t a, uint64_t b) { return a == 0 ? b : b == 0 ? a : std::min(a, b); }

bool isQueueOwner(const fs::path& dir) {
    std::error_code ignored;
    return fs::is_regular_file(dir / "queue" / "max_hw_sectors_kb", ignored);
}

// Directories below `dir` (not the links sysfs puts beside them) that have a queue.
std::vector<fs::path> queueChildren(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (it->is_symlink(ignored) || !it->is_directory(ignored)) continue;
        if (isQueueOwner(it->path())) found.push_back(it->path());
    }
    return found;
}

}  // namespace

uint64_t queueDirectoryLimit(const fs::path& queue, uint64_t pageSize) {
    const uint64_t kilobytes = readNumber(queue / "max_hw_sectors_kb");
    if (kilobytes == 0) return 0;
    uint64_t limit = kilobytes * 1024u;
    const uint64_t segments = readNumber(queue / "max_segments");
    if (segments != 0 && pageSize != 0) limit = std::min(limit, segments * pageSize);
    return limit;
}

uint64_t deviceDirectoryLimit(const fs::path& device, uint64_t pageSize) {
    std::error_code error;
    const fs::path dir = fs::canonical(device, error);
    if (error) return 0;
    if (isQueueOwner(dir)) return queueDirectoryLimit(dir / "queue", pageSize);
    // A partition: the whole disk's queue.
    if (fs::exists(dir / "partition", error) && isQueueOwner(dir.parent_path())) {
        return queueDirectoryLimit(dir.parent_path() / "queue", pageSize);
    }
    uint64_t limit = 0;
    // An NVMe controller: its namespaces (or, under multipath, its paths to them).
    for (const fs::path& child : queueChildren(dir)) limit = tighter(limit, queueDirectoryLimit(child / "queue", pageSize));
    // A SCSI generic node: the disk of the same SCSI device.
    for (const fs::path& disk : queueChildren(dir / "device" / "block")) {
        limit = tighter(limit, queueDirectoryLimit(disk / "queue", pageSize));
    }
    return limit;
}

int systemMaxTransfer(int fd, uint32_t* bytes) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return -1;
    const char* kind = S_ISBLK(status.st_mode) ? "block" : S_ISCHR(status.st_mode) ? "char" : nullptr;
    if (kind == nullptr) {
        errno = ENOTTY;
        return -1;
    }
    const fs::path device = fs::path("/sys/dev") / kind /
                            (std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev)));
    const long page = ::sysconf(_SC_PAGESIZE);
    const uint64_t limit = deviceDirectoryLimit(device, page > 0 ? static_cast<uint64_t>(page) : 4096u);
    if (limit == 0) {
        errno = ENOENT;
        return -1;
    }
    *bytes = static_cast<uint32_t>(std::min<uint64_t>(limit, std::numeric_limits<uint32_t>::max()));
    return 0;
}

}  // namespace passthrough
