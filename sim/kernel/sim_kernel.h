// A stand-in for the kernel below the pass-through plug-ins' seam: device
// nodes backed by simulated drives, answering SG_IO the way Linux does for a
// libata disk (SAT ATA PASS-THROUGH (12) and (16) with the registers in
// sense data as libata writes it, a translated INQUIRY) and for a SCSI disk,
// ATA drives behind USB bridges, and the NVMe admin and reset requests on a
// controller's character device.
// Like the kernel, it refuses a request larger than the node's queue limit
// before the drive sees it, and reports a command that timed out the way
// kernels do.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kernel_io/kernel_io.h"
#include "libata_sense.h"
#include "usb_bridge.h"
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
    // How libata answers on the libata disk at `path` (until reset).
    void setLibataPort(const std::string& path, const LibataPort& port);
    // Puts a USB bridge in front of the ATA drive at `path` (until reset); its
    // memory starts empty.
    void setUsbBridge(const std::string& path, const UsbBridge& bridge);

    // The largest transfer one request on the node may carry (its
    // max_hw_sectors, or for a controller what applies to admin commands); a
    // larger SG_IO fails with EIO, a larger admin command with EINVAL. 0: no
    // limit, and none reported.
    void setQueueLimit(const std::string& path, uint32_t bytes);

    // How a kernel reports a command it aborted after the time-out: before
    // 5.14 an SG_IO request completes with status 0, host status 0 and driver
    // status DRIVER_TIMEOUT, and an admin command fails with EINTR; later ones
    // give host status DID_TIME_OUT, and the admin command the host-aborted
    // status 0x371.
    enum class TimeoutReport { OldKernel, NewKernel };
    // The next `count` SG_IO or admin requests on the node time out without
    // reaching the drive.
    void timeOutNext(const std::string& path, uint32_t count, TimeoutReport report);

    // What the last requests carried, for tests.
    struct Observed {
        uint32_t sgTimeoutMs = 0;
        std::vector<uint8_t> cdb;
        std::vector<std::vector<uint8_t>> recentCdbs;  // the last few, oldest first
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
    int maxTransfer(int fd, uint32_t* bytes);
    int csmiRequest(int fd, void* buffer);

private:
    struct Node {
        std::shared_ptr<SimDrive> drive;
        uint32_t queueLimit = 0;
        uint32_t timeouts = 0;
        TimeoutReport report = TimeoutReport::OldKernel;
        LibataPort port;
        std::shared_ptr<UsbBridgeState> bridge;
    };
    // The node of a descriptor as one request finds it, taken under the lock.
    struct Passage {
        std::shared_ptr<SimDrive> drive;  // null: a bad descriptor
        uint32_t queueLimit = 0;
        LibataPort port;
        std::shared_ptr<UsbBridgeState> bridge;
    };
    Passage pass(int fd);
    // Uses up one time-out of the descriptor's node; nothing when none is due.
    std::optional<TimeoutReport> takeTimeout(int fd);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Node>> nodes_;
    std::map<int, std::shared_ptr<Node>> open_;
    std::map<std::string, std::shared_ptr<CsmiNode>> csmiNodes_;
    std::map<int, std::shared_ptr<CsmiNode>> openCsmi_;
    int nextFd_ = 1000;
    Observed observed_;
};

}  // namespace simdrive
