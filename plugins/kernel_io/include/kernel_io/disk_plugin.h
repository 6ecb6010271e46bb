// What the ATA, SCSI and NVMe pass-through plug-ins share: finding the OS
// devices plug-in's "os/driveinfo" resources (at load and through hot-plug
// events), opening and probing their disks, registering one service per disk,
// following a disk's departure and return through a DriveListener, and the
// list of registered services that unload takes down.
#pragma once

#include <corvane.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/contract_check.h"
#include "device/device_common.h"
#include "device/os_driveinfo.h"

namespace passthrough {

inline constexpr std::size_t kMaxServices = 4096;

// The command's parameter block (buffer 0), copied out and back; the contract
// check has made sure it is there and long enough.
template <typename T>
T readBlock(const CvCommand* command) {
    T value;
    std::memcpy(&value, command->buffers[0], sizeof value);
    return value;
}

template <typename T>
void writeBlock(CvCommand* command, const T& value) {
    std::memcpy(command->buffers[0], &value, sizeof value);
}

// An open disk. Commands hold a reference for the length of one kernel call,
// so a departure notice never closes a descriptor that a running command is
// still using (and whose number the kernel could hand to another file).
class OpenDisk {
public:
    // maxTransfer: the kernel's limit for one request, 0 when none is known.
    OpenDisk(int fd, uint32_t maxTransfer) : fd_(fd), maxTransfer_(maxTransfer) {}
    ~OpenDisk();
    OpenDisk(const OpenDisk&) = delete;
    OpenDisk& operator=(const OpenDisk&) = delete;
    int fd() const { return fd_; }

    // A largest-transfer ability cut to what the kernel lets one request on
    // this disk carry (whole 512-byte blocks), since a larger request is
    // refused before it reaches the device.
    uint32_t capTransfer(uint32_t ability) const;

private:
    int fd_;
    uint32_t maxTransfer_;
};

// Opens a disk for reading and writing and reads its transfer limit; null with
// errno set on failure.
std::shared_ptr<OpenDisk> openDisk(const std::string& path);

class DiskPlugin;

// One registered service on one disk.
class DiskUnit {
public:
    DiskUnit(DiskPlugin& plugin, CvUID resource, std::string path, std::shared_ptr<OpenDisk> disk);
    virtual ~DiskUnit() = default;
    DiskUnit(const DiskUnit&) = delete;
    DiskUnit& operator=(const DiskUnit&) = delete;

    // Functions of the service type, after nothing has been checked.
    virtual int execute(CvCommand* command, CvError* error) = 0;

    CvUID resource() const { return resource_; }
    CvUID service() const;

    // What one command needs, taken under the unit's lock: the disk (null
    // while it is away) and the time-out setting.
    struct Snapshot {
        std::shared_ptr<OpenDisk> disk;
        uint64_t timeoutNs = DEVICE_SETTING_TIMEOUT_DEFAULT_NS;
    };
    Snapshot snapshot() const;
    // capTransfer of the disk open now; the ability itself while it is away.
    uint32_t capTransfer(uint32_t ability) const;
    // 'get ability' after the contract check: the ability the index names,
    // with its largest transfer cut by capTransfer, copied into buffer 1.
    template <typename Ability, std::size_t N>
    int copyAbility(CvCommand* command, const std::array<Ability, N>& abilities, CvError* error) const {
        Ability ability = abilities[static_cast<std::size_t>(DeviceContract_AbilityIndex(command))];
        ability.maxTransferBytes = capTransfer(ability.maxTransferBytes);
        std::memcpy(command->buffers[1], &ability, sizeof ability);
        return CvSetNoError(error);
    }
    uint64_t timeoutNs() const;
    void setTimeoutNs(uint64_t value);

    // Functions 2 and 3 (get and set setting): setting 0 is the command
    // time-out; an ATA service also reads the constant setting 5 as 1. `kind`
    // names the service in the refusal ("ATA", "SCSI").
    int answerSetting(CvCommand* command, const char* kind, bool ataConstant, CvError* error);

protected:
    mutable std::mutex mutex_;

private:
    friend class DiskPlugin;
    static void notify(void* owner, int32_t arrived, const char* path, const DriveInfoBlock* info);

    DiskPlugin& plugin_;
    const CvUID resource_;
    CvUID service_ = CV_UID_NONE;
    std::string path_;
    std::shared_ptr<OpenDisk> disk_;
    uint64_t timeoutNs_ = DEVICE_SETTING_TIMEOUT_DEFAULT_NS;
    DriveListener listener_{};
    void* ownerHandle_ = nullptr;
    DriveListenerOperation removeListener_ = nullptr;
};

// One instance per plug-in; the plug-in's load and unload entry points call
// load() and unload().
class DiskPlugin {
public:
    // unitKind names the unit in the re-open failure ("ATA", "SCSI", "NVMe").
    DiskPlugin(const char* serviceType, const char* unitKind);
    virtual ~DiskPlugin() = default;
    DiskPlugin(const DiskPlugin&) = delete;
    DiskPlugin& operator=(const DiskPlugin&) = delete;

    int load(CvError* error);
    int unload(CvError* error);

    // Looks at one resource and gives it the service when its disk answers.
    void attach(CvUID resource);

    // The services registered now, as (resource, service) pairs.
    std::vector<std::pair<CvUID, CvUID>> services() const;

protected:
    // The resource's node type is acceptable (logs and refuses otherwise).
    virtual bool acceptsNode(CvUID resource, const OsDriveInfo& info);
    // The path to open for a disk's access path; empty leaves the disk alone.
    virtual std::string devicePath(const char* diskPath) const;
    // The identifying command of the service type; true when the disk answers.
    virtual bool probe(const OpenDisk& disk) = 0;
    virtual std::unique_ptr<DiskUnit> createUnit(CvUID resource, const OsDriveInfo& info, std::string path,
                                                 std::shared_ptr<OpenDisk> disk) = 0;

private:
    friend class DiskUnit;
    static void resourceAdded(void* userData, CvUID resource, const CvResourceInfo* info);
    static void registered(void* userData, CvUID service);
    static int execute(void* userData, CvCommand* command, CvError* error);
    static int submit(void* userData, CvCommand* command, CvCommandCompletion* completion, CvError* error);
    static int abort(void* userData, uint32_t tag, CvError* error);
    static int dispose(void* userData, CvError* error);

    void forget(CvUID resource, CvUID service);

    const char* serviceType_;
    const char* unitKind_;
    mutable std::mutex mutex_;
    bool enabled_ = false;
    std::vector<std::pair<CvUID, CvUID>> services_;
    CvHotplugListener hotplug_{};
};

}  // namespace passthrough
