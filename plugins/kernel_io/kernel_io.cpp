// The seam between the pass-through plug-ins and the kernel.
#include "kernel_io/kernel_io.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mutex>

#include "queue_limit.h"

namespace {

int systemOpen(const char* path, int flags) { return ::open(path, flags); }
int systemSgIo(int fd, sg_io_hdr* request) { return ::ioctl(fd, SG_IO, request); }
int systemNvmeAdmin(int fd, nvme_passthru_cmd* command) { return ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, command); }
int systemNvmeReset(int fd) { return ::ioctl(fd, NVME_IOCTL_RESET); }
int systemClose(int fd) { return ::close(fd); }
int systemCsmiRequest(int fd, void* buffer) { return ::ioctl(fd, KERNEL_IO_CSMI_REQUEST, buffer); }

static_assert(KERNEL_IO_CSMI_REQUEST == _IOC(_IOC_READ | _IOC_WRITE, 'C', 0x80, 28), "CSMI request number");

constexpr KernelIoOps kSystemOps = {systemOpen,  systemSgIo, systemNvmeAdmin, systemNvmeReset, systemClose,
                                    passthrough::systemMaxTransfer, systemCsmiRequest};

const KernelIoOps& ops() {
    static const KernelIoOps* chosen = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        auto provider = reinterpret_cast<KernelIoProviderFunction>(::dlsym(RTLD_DEFAULT, KERNEL_IO_TEST_PROVIDER_SYMBOL));
        const KernelIoOps* table = provider != nullptr ? provider() : nullptr;
        chosen = table != nullptr ? table : &kSystemOps;
    });
    return *chosen;
}

}  // namespace

int KernelIo_Open(const char* path, int flags) { return ops().open(path, flags); }
int KernelIo_SgIo(int fd, sg_io_hdr* request) { return ops().sgIo(fd, request); }
int KernelIo_NvmeAdmin(int fd, nvme_passthru_cmd* command) { return ops().nvmeAdmin(fd, command); }
int KernelIo_NvmeReset(int fd) { return ops().nvmeReset(fd); }
int KernelIo_Close(int fd) { return ops().close(fd); }
int KernelIo_MaxTransfer(int fd, uint32_t* bytes) { return ops().maxTransfer(fd, bytes); }
int KernelIo_CsmiRequest(int fd, void* buffer) { return ops().csmiRequest(fd, buffer); }
const KernelIoOps* KernelIo_SystemOps(void) { return &kSystemOps; }
