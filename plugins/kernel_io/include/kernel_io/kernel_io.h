/* The few kernel calls the pass-through plug-ins make to reach a disk: open,
 * the SCSI generic SG_IO request, the NVMe admin command and controller reset
 * requests, close, the largest transfer the kernel lets one pass-through
 * request carry, and the CSMI request of a host adapter's node. Each call
 * behaves like the system call it stands for: a
 * non-negative result on success, -1 with errno set on failure (the NVMe admin
 * request returns the command's NVMe status when it completed with one).
 *
 * By default the calls go straight to the kernel. A test program can put a
 * simulator behind them by exporting KernelIo_TestProvider (see below); a
 * production program never defines it, so the seam costs one look-up at first
 * use and nothing else. */
#ifndef KERNEL_IO_KERNEL_IO_H
#define KERNEL_IO_KERNEL_IO_H

#include <stddef.h>
#include <stdint.h>

#include <cvcrt/api.h>

#ifdef __cplusplus
extern "C" {
#endif

struct sg_io_hdr;
struct nvme_passthru_cmd;

typedef struct KernelIoOps {
    int (*open)(const char* path, int flags);
    int (*sgIo)(int fd, struct sg_io_hdr* request);
    int (*nvmeAdmin)(int fd, struct nvme_passthru_cmd* command);
    int (*nvmeReset)(int fd);
    int (*close)(int fd);
    /* The largest data transfer in bytes of one SG_IO or NVMe admin request on
     * the descriptor, as the kernel enforces it (the queue limits of the disk,
     * or for an NVMe controller those it applies to admin commands): 0 with
     * *bytes set, or -1 with errno set when no limit is known. */
    int (*maxTransfer)(int fd, uint32_t* bytes);
    /* One CSMI request (KERNEL_IO_CSMI_REQUEST) on an adapter's node. */
    int (*csmiRequest)(int fd, void* buffer);
} KernelIoOps;

CRT_STATIC_ASSERT(sizeof(KernelIoOps) == 7 * sizeof(void*), "KernelIoOps size");
CRT_STATIC_ASSERT(offsetof(KernelIoOps, maxTransfer) == 5 * sizeof(void*), "KernelIoOps.maxTransfer");
CRT_STATIC_ASSERT(offsetof(KernelIoOps, csmiRequest) == 6 * sizeof(void*), "KernelIoOps.csmiRequest");

/* The ioctl request that carries a CSMI buffer to a host adapter's driver:
 * _IOWR('C', 0x80, <28-byte header>). The argument points at the whole buffer,
 * which starts with the 28-byte header whose length field gives the bytes that
 * follow it; the driver answers in the same buffer. */
#define KERNEL_IO_CSMI_REQUEST 0xC01C4380u

/* Name of the function a test program exports to replace the kernel:
 *   extern "C" const KernelIoOps* KernelIo_TestProvider(void);
 * looked up once, in the whole process, at the first call through the seam. A
 * null table, or no such function, keeps the kernel's own calls. */
#define KERNEL_IO_TEST_PROVIDER_SYMBOL "KernelIo_TestProvider"
typedef const KernelIoOps* (*KernelIoProviderFunction)(void);

/* The calls of the module that links this library. */
int KernelIo_Open(const char* path, int flags);
int KernelIo_SgIo(int fd, struct sg_io_hdr* request);
int KernelIo_NvmeAdmin(int fd, struct nvme_passthru_cmd* command);
int KernelIo_NvmeReset(int fd);
int KernelIo_Close(int fd);
int KernelIo_MaxTransfer(int fd, uint32_t* bytes);
int KernelIo_CsmiRequest(int fd, void* buffer);

/* The kernel's own table, for providers that pass some calls through. */
const KernelIoOps* KernelIo_SystemOps(void);

#ifdef __cplusplus
}
#endif

#endif /* KERNEL_IO_KERNEL_IO_H */
