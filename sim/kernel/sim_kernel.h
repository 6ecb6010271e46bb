// A stand-in for the kernel below the pass-through plug-ins' seam: device
// nodes backed by simulated drives, answering SG_IO the way Linux does for a
// libata disk (SAT ATA PASS-THROUGH (16), ATA Status Return descriptor in
// descriptor-format sense, a translated INQUIRY) and for a SCSI disk, and the
// NVMe admin and reset requests on a controller's character device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel_io/kernel_io.h"
#include "simdrive/ata_drive.h"
#include "simdrive/nvme_drive.h"
#include "simdrive/scsi_drive.h"

namespace simdrive {

// The driver behind a host adapter's node that answers CSMI requests (one
// buffer, answered in place; 0, or -1 with errno). sim/csmi has one.
class CsmiNode {
public:
    virtual ~CsmiNode() = default;
    virtual int request(void* buffer) = 0;
};

class SimKernel {
public:
    // The one instance the seam's table talks to.
    static SimKernel& instance();
    // The table to hand to the seam (KernelIo_TestProvider).
    static const KernelIoOps* ops();

    // Device nodes. A node answers by its drive's kind: an ATA drive is a
    // libata disk, a SCSI drive a SCSI disk, an NVMe drive a controller.
    void addNode(const std::string& path, std::shared_ptr<SimDrive> drive);
    void removeNode(const std::string& path);
    // A host adapter's node whose driver speaks CSMI.
    void addCsmiNode(const std::string& path, std::shared_ptr<CsmiNode> node);
    // Removes every node; descriptors still open stay valid until closed.
    void reset();

    // What the last requests carried, for tests.
    struct Observed {
        uint32_t sgTimeoutMs = 0;
        std::vector<uint8_t> cdb;
        uint32_t sgDataLength = 0;
        uint32_t nvmeTimeoutMs = 0;
        uint32_t sgRequests = 0;
        uint32_t nvmeRequests = 0;
        uint32_t nvmeResets = 0;
    };
    Observed observed() const;
    int openDescriptors() const;

    // The seam's calls.
    int open(const char* path, int flags);
    int sgIo(int fd, struct sg_io_hdr* request);
    int nvmeAdmin(int fd, struct nvme_passthru_cmd* command);
    int nvmeReset(int fd);
    int close(int fd);
    int csmiRequest(int fd, void* buffer);

private:
    std::shared_ptr<SimDrive> driveOf(int fd) const;

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<SimDrive>> nodes_;
    std::map<int, std::shared_ptr<SimDrive>> open_;
    std::map<std::string, std::shared_ptr<CsmiNode>> csmiNodes_;
    std::map<int, std::shared_ptr<CsmiNode>> openCsmi_;
    int nextFd_ = 1000;
    Observed observed_;
};

}  // namespace simdrive
