// Device nodes and the open-descriptor table of the simulated kernel.
#include "sim_kernel.h"

#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>

#include <cerrno>

#include "sg_answer.h"

namespace simdrive {

namespace {
int sysOpen(const char* path, int flags) { return SimKernel::instance().open(path, flags); }
int sysSgIo(int fd, sg_io_hdr* request) { return SimKernel::instance().sgIo(fd, request); }
int sysNvmeAdmin(int fd, nvme_passthru_cmd* command) { return SimKernel::instance().nvmeAdmin(fd, command); }
int sysNvmeReset(int fd) { return SimKernel::instance().nvmeReset(fd); }
int sysClose(int fd) { return SimKernel::instance().close(fd); }
constexpr KernelIoOps kOps = {sysOpen, sysSgIo, sysNvmeAdmin, sysNvmeReset, sysClose};
}  // namespace

SimKernel& SimKernel::instance() {
    static SimKernel kernel;
    return kernel;
}

const KernelIoOps* SimKernel::ops() { return &kOps; }

void SimKernel::addNode(const std::string& path, std::shared_ptr<SimDrive> drive) {
    std::lock_guard lock(mutex_);
    nodes_[path] = std::move(drive);
}

void SimKernel::removeNode(const std::string& path) {
    std::lock_guard lock(mutex_);
    nodes_.erase(path);
}

void SimKernel::reset() {
    std::lock_guard lock(mutex_);
    nodes_.clear();
    ports_.clear();
    bridges_.clear();
    observed_ = {};
}

void SimKernel::setLibataPort(const std::string& path, const LibataPort& port) {
    std::lock_guard lock(mutex_);
    auto node = nodes_.find(path);
    if (node != nodes_.end()) ports_[node->second.get()] = port;
}

void SimKernel::setUsbBridge(const std::string& path, const UsbBridge& bridge) {
    std::lock_guard lock(mutex_);
    auto node = nodes_.find(path);
    if (node != nodes_.end()) bridges_[node->second.get()] = std::make_shared<UsbBridgeState>(bridge);
}

SimKernel::Observed SimKernel::observed() const {
    std::lock_guard lock(mutex_);
    return observed_;
}

int SimKernel::openDescriptors() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

int SimKernel::open(const char* path, int /*flags*/) {
    std::lock_guard lock(mutex_);
    auto node = nodes_.find(path);
    if (node == nodes_.end()) {
        errno = ENOENT;
        return -1;
    }
    int fd = nextFd_++;
    open_[fd] = node->second;
    return fd;
}

int SimKernel::close(int fd) {
    std::lock_guard lock(mutex_);
    if (open_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

std::shared_ptr<SimDrive> SimKernel::driveOf(int fd) const {
    std::lock_guard lock(mutex_);
    auto entry = open_.find(fd);
    return entry == open_.end() ? nullptr : entry->second;
}

int SimKernel::sgIo(int fd, sg_io_hdr* request) {
    std::shared_ptr<SimDrive> drive = driveOf(fd);
    if (!drive) {
        errno = EBADF;
        return -1;
    }
    LibataPort port;
    std::shared_ptr<UsbBridgeState> bridge;
    {
        std::lock_guard lock(mutex_);
        ++observed_.sgRequests;
        observed_.sgTimeoutMs = request->timeout;
        observed_.sgDataLength = request->dxfer_len;
        observed_.cdb.assign(request->cmdp, request->cmdp + request->cmd_len);
        constexpr std::size_t kRecent = 8;
        if (observed_.recentCdbs.size() == kRecent) observed_.recentCdbs.erase(observed_.recentCdbs.begin());
        observed_.recentCdbs.push_back(observed_.cdb);
        if (auto set = ports_.find(drive.get()); set != ports_.end()) port = set->second;
        if (auto set = bridges_.find(drive.get()); set != bridges_.end()) bridge = set->second;
    }
    return answerSgIo(*drive, *request, port, bridge.get());
}

int SimKernel::nvmeAdmin(int fd, nvme_passthru_cmd* command) {
    std::shared_ptr<SimDrive> drive = driveOf(fd);
    if (!drive) {
        errno = EBADF;
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++observed_.nvmeRequests;
        observed_.nvmeTimeoutMs = command->timeout_ms;
    }
    auto* controller = dynamic_cast<NvmeDrive*>(drive.get());
    if (controller == nullptr) {
        errno = ENOTTY;
        return -1;
    }
    NvmeAdminCommand admin;
    admin.opcode = command->opcode;
    admin.namespaceId = command->nsid;
    admin.cdw10 = command->cdw10;
    admin.cdw11 = command->cdw11;
    admin.cdw12 = command->cdw12;
    admin.cdw13 = command->cdw13;
    admin.cdw14 = command->cdw14;
    admin.cdw15 = command->cdw15;
    std::span<uint8_t> data(reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(command->addr)), command->data_len);
    if (command->data_len != 0 && command->addr == 0) {
        errno = EFAULT;
        return -1;
    }
    NvmeCompletion completion;
    if (controller->submitAdmin(admin, data, completion) == BusResult::DeviceGone) {
        errno = ENODEV;
        return -1;
    }
    command->result = completion.result;
    // Like the kernel: the completion's status field without the phase tag.
    return completion.status;
}

int SimKernel::nvmeReset(int fd) {
    std::shared_ptr<SimDrive> drive = driveOf(fd);
    auto* controller = dynamic_cast<NvmeDrive*>(drive.get());
    if (controller == nullptr) {
        errno = drive ? ENOTTY : EBADF;
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++observed_.nvmeResets;
    }
    if (controller->resetController() == BusResult::DeviceGone) {
        errno = ENODEV;
        return -1;
    }
    return 0;
}

}  // namespace simdrive
