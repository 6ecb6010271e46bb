// Device nodes and the open-descriptor table of the simulated kernel.
#include "sim_kernel.h"

#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <optional>

#include "sg_answer.h"

namespace simdrive {

namespace {
int sysOpen(const char* path, int flags) { return SimKernel::instance().open(path, flags); }
int sysSgIo(int fd, sg_io_hdr* request) { return SimKernel::instance().sgIo(fd, request); }
int sysNvmeAdmin(int fd, nvme_passthru_cmd* command) { return SimKernel::instance().nvmeAdmin(fd, command); }
int sysNvmeReset(int fd) { return SimKernel::instance().nvmeReset(fd); }
int sysClose(int fd) { return SimKernel::instance().close(fd); }
int sysMaxTransfer(int fd, uint32_t* bytes) { return SimKernel::instance().maxTransfer(fd, bytes); }
int sysCsmiRequest(int fd, void* buffer) { return SimKernel::instance().csmiRequest(fd, buffer); }
constexpr KernelIoOps kOps = {sysOpen, sysSgIo, sysNvmeAdmin, sysNvmeReset, sysClose, sysMaxTransfer, sysCsmiRequest};

constexpr unsigned char kDidTimeOut = 0x03;
constexpr unsigned short kDriverTimeout = 0x06;
constexpr int kNvmeHostAbortedCommand = 0x371;

// A request the kernel gave up on: no status, no sense, nothing moved.
void timedOut(sg_io_hdr& request, SimKernel::TimeoutReport report) {
    request.status = 0;
    request.masked_status = 0;
    request.msg_status = 0;
    request.sb_len_wr = 0;
    request.host_status = report == SimKernel::TimeoutReport::NewKernel ? kDidTimeOut : 0;
    request.driver_status = report == SimKernel::TimeoutReport::OldKernel ? kDriverTimeout : 0;
    request.resid = static_cast<int>(request.dxfer_len);
    request.duration = request.timeout;
    request.info = SG_INFO_CHECK;
}
}  // namespace

SimKernel& SimKernel::instance() {
    static SimKernel kernel;
    return kernel;
}

const KernelIoOps* SimKernel::ops() { return &kOps; }

void SimKernel::addNode(const std::string& path, std::shared_ptr<SimDrive> drive) {
    std::lock_guard lock(mutex_);
    auto node = std::make_shared<Node>();
    node->drive = std::move(drive);
    nodes_[path] = std::move(node);
}

void SimKernel::removeNode(const std::string& path) {
    std::lock_guard lock(mutex_);
    nodes_.erase(path);
}

void SimKernel::addCsmiNode(const std::string& path, std::shared_ptr<CsmiNode> node) {
    std::lock_guard lock(mutex_);
    csmiNodes_[path] = std::move(node);
}

void SimKernel::reset() {
    std::lock_guard lock(mutex_);
    nodes_.clear();
    csmiNodes_.clear();
    observed_ = {};
}

void SimKernel::setLibataPort(const std::string& path, const LibataPort& port) {
    std::lock_guard lock(mutex_);
    if (auto node = nodes_.find(path); node != nodes_.end()) node->second->port = port;
}

void SimKernel::setUsbBridge(const std::string& path, const UsbBridge& bridge) {
    std::lock_guard lock(mutex_);
    if (auto node = nodes_.find(path); node != nodes_.end())
        node->second->bridge = std::make_shared<UsbBridgeState>(bridge);
}

void SimKernel::setQueueLimit(const std::string& path, uint32_t bytes) {
    std::lock_guard lock(mutex_);
    if (auto node = nodes_.find(path); node != nodes_.end()) node->second->queueLimit = bytes;
}

void SimKernel::timeOutNext(const std::string& path, uint32_t count, TimeoutReport report) {
    std::lock_guard lock(mutex_);
    if (auto node = nodes_.find(path); node != nodes_.end()) {
        node->second->timeouts = count;
        node->second->report = report;
    }
}

SimKernel::Observed SimKernel::observed() const {
    std::lock_guard lock(mutex_);
    return observed_;
}

int SimKernel::openDescriptors() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size() + openCsmi_.size());
}

int SimKernel::open(const char* path, int /*flags*/) {
    std::lock_guard lock(mutex_);
    if (auto adapter = csmiNodes_.find(path); adapter != csmiNodes_.end()) {
        int fd = nextFd_++;
        openCsmi_[fd] = adapter->second;
        return fd;
    }
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
    if (open_.erase(fd) == 0 && openCsmi_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int SimKernel::maxTransfer(int fd, uint32_t* bytes) {
    std::lock_guard lock(mutex_);
    auto entry = open_.find(fd);
    if (entry == open_.end()) {
        errno = EBADF;
        return -1;
    }
    if (entry->second->queueLimit == 0) {
        errno = ENOENT;
        return -1;
    }
    *bytes = entry->second->queueLimit;
    return 0;
}

SimKernel::Passage SimKernel::pass(int fd) {
    std::lock_guard lock(mutex_);
    auto entry = open_.find(fd);
    if (entry == open_.end()) return {};
    Node& node = *entry->second;
    return {node.drive, node.queueLimit, node.port, node.bridge};
}

int SimKernel::sgIo(int fd, sg_io_hdr* request) {
    Passage passage = pass(fd);
    if (!passage.drive) {
        errno = EBADF;
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++observed_.sgRequests;
        observed_.sgTimeoutMs = request->timeout;
        observed_.sgDataLength = request->dxfer_len;
        observed_.cdb.assign(request->cmdp, request->cmdp + request->cmd_len);
        constexpr std::size_t kRecent = 8;
        if (observed_.recentCdbs.size() == kRecent) observed_.recentCdbs.erase(observed_.recentCdbs.begin());
        observed_.recentCdbs.push_back(observed_.cdb);
    }
    // The block layer's own check, before anything is sent.
    if (request->interface_id == 'S' && passage.queueLimit != 0 && request->dxfer_len > passage.queueLimit) {
        errno = EIO;
        return -1;
    }
    if (std::optional<TimeoutReport> report = takeTimeout(fd)) {
        timedOut(*request, *report);
        return 0;
    }
    return answerSgIo(*passage.drive, *request, passage.port, passage.bridge.get());
}

std::optional<SimKernel::TimeoutReport> SimKernel::takeTimeout(int fd) {
    std::lock_guard lock(mutex_);
    auto entry = open_.find(fd);
    if (entry == open_.end() || entry->second->timeouts == 0) return std::nullopt;
    --entry->second->timeouts;
    return entry->second->report;
}

int SimKernel::csmiRequest(int fd, void* buffer) {
    std::shared_ptr<CsmiNode> node;
    {
        std::lock_guard lock(mutex_);
        if (auto entry = openCsmi_.find(fd); entry != openCsmi_.end()) node = entry->second;
        else if (open_.count(fd) == 0) {
            errno = EBADF;
            return -1;
        }
    }
    // A disk's own node knows no CSMI request.
    if (!node) {
        errno = ENOTTY;
        return -1;
    }
    return node->request(buffer);
}

int SimKernel::nvmeAdmin(int fd, nvme_passthru_cmd* command) {
    Passage passage = pass(fd);
    if (!passage.drive) {
        errno = EBADF;
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++observed_.nvmeRequests;
        observed_.nvmeTimeoutMs = command->timeout_ms;
    }
    auto* controller = dynamic_cast<NvmeDrive*>(passage.drive.get());
    if (controller == nullptr) {
        errno = ENOTTY;
        return -1;
    }
    // Mapping the user buffer fails on a transfer above the admin queue's limit.
    if (passage.queueLimit != 0 && command->data_len > passage.queueLimit) {
        errno = EINVAL;
        return -1;
    }
    if (std::optional<TimeoutReport> report = takeTimeout(fd)) {
        if (*report == TimeoutReport::NewKernel) return kNvmeHostAbortedCommand;
        errno = EINTR;
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
    std::shared_ptr<SimDrive> drive = pass(fd).drive;
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
