// A stand-in for the kernel below the pass-through plug-ins' seam: device
// nodes backed by simulated drives, answering SG_IO the way Linux does for a
// libata disk (SAT ATA PASS-THROUGH (12) and (16) with the registers in
// sense data as libata writes it, a translated INQUIRY) and for a SCSI disk,
// ATA drives behind USB bridges, and the NVMe admin and reset requests on a
// controller's character device.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel_io/kernel_io.h"
#include "libata_sense.h"
#include "usb_bridge.h"
#include "simdrive/ata_drive.h"
#include "simdrive/nvme_drive.h"
#include "simdrive/scsi_drive.h"

namespace simdrive {

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
    // Removes every node; descriptors still open stay valid until closed.
    void reset();
    // How libata answers on the libata disk at `path` (until reset).
    void setLibataPort(const std::string& path, const LibataPort& port);
    // Puts a USB bridge in front of the ATA drive at `path` (until reset); its
    // memory starts empty.
    void setUsbBridge(const std::string& path, const UsbBridge& bridge);

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

private:
    std::shared_ptr<SimDrive> driveOf(int fd) const;

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<SimDrive>> nodes_;
    std::map<int, std::shared_ptr<SimDrive>> open_;
    std::map<const SimDrive*, LibataPort> ports_;
    std::map<const SimDrive*, std::shared_ptr<UsbBridgeState>> bridges_;
    int nextFd_ = 1000;
    Observed observed_;
};

}  // namespace simdrive
