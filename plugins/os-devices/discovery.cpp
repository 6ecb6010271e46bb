// The discovery thread: the first enumeration, then disk uevents (arrival and
// removal with their settling delays and rescans) and the linger time-outs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "plugin_state.h"

namespace os_devices {

namespace {

using ScanList = std::vector<RecordPtr>;

const std::string kSysBlock = "/sys/block";

// The drive number of a disk: its device number as the kernel packs it
// (major << 20 | minor), unique among the disks present and the same on every
// rescan while the disk stays.
int32_t DriveNumberOf(unsigned major, unsigned minor)
{
    return static_cast<int32_t>(((major & 0x7FFu) << 20) | (minor & 0xFFFFFu));
}

// Kernel names of disks that never carry a drive: RAM, loop, compressed-RAM,
// device-mapper, md, optical, floppy and network block devices.
bool IsVirtualName(const std::string& name)
{
    static const char* const prefixes[] = {"loop", "ram", "zram", "dm-", "md", "sr", "fd", "nbd"};
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&](const char* prefix) { return name.rfind(prefix, 0) == 0; });
}

// Virtual disks (loop, RAM, device-mapper, md) come and go with no drive behind
// them. NVMe namespaces live there too: under their subsystem with native
// multipath, and under the fabrics controller without it; those are drives.
bool IsVirtualDevPath(const std::string& devPath)
{
    static const char* const drives[] = {"/devices/virtual/nvme-subsystem/", "/devices/virtual/nvme-fabrics/"};
    if (std::any_of(std::begin(drives), std::end(drives),
                    [&](const char* prefix) { return devPath.rfind(prefix, 0) == 0; }))
        return false;
    return devPath.rfind("/devices/virtual/", 0) == 0;
}

// "nvme1c0n1": one controller's path to a multipath namespace, a hidden disk
// that is reached through the namespace's own block device ("nvme1n1").
bool IsMultipathPathName(const std::string& name)
{
    unsigned subsystem = 0, controller = 0, ns = 0;
    int end = 0;
    return std::sscanf(name.c_str(), "nvme%uc%un%u%n", &subsystem, &controller, &ns, &end) == 3 &&
           static_cast<std::size_t>(end) == name.size();
}

void NotifyListeners(DriveRecord& record, int32_t arrived)
{
    char path[OS_DRIVE_PATH_SIZE] = {};
    record.accessPath.copy(path, OS_DRIVE_PATH_SIZE - 1);
    const DriveInfoBlock copy = record.info;
    for (DriveListener* listener : record.listeners) {
        if (listener->notify != nullptr) listener->notify(listener->owner, arrived, path, &copy);
    }
}

// Sleeps unless the plug-in stops meanwhile; false when it stopped.
bool Settle(int milliseconds)
{
    PluginState& state = State();
    std::unique_lock lock(state.runMutex);
    state.runChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return !state.running; });
    return state.running;
}

// Looks for the disk behind the ports of the host-port library: a device whose
// serial-number text is the disk's interface path. The ports searched without a
// match are closed; the matching one stays open for the pass-through plug-in.
void HostPortLookup(DriveRecord& record)
{
    HostPortInfo& hostPort = record.info.hostPort;
    record.accessPath.copy(hostPort.accessPath, OS_DRIVE_PATH_SIZE - 1);
    hostPort.driveNumber = record.driveNumber;
    if (record.info.flags & DRIVE_INFO_SAS_ADDRESS_VALID) hostPort.sasAddress = record.info.sasAddress;

    const HostPortFunctions* library = State().system->HostPorts();
    if (library == nullptr) return;
    void* ports[HOSTPORT_MAX_PORTS] = {};
    const int portCount = std::clamp(library->findPorts(ports), 0, HOSTPORT_MAX_PORTS);
    const auto devices = std::make_unique<uint32_t[][4]>(HOSTPORT_MAX_DEVICES);
    for (int port = 0; port < portCount; ++port) {
        int count = 0;
        if (library->scanForDevices(ports[port], &count, devices.get()) != 1) {
            CvLog(CV_LOG_WARNING, "error scanning for mpt devices");
        } else {
            for (int i = 0; i < std::clamp(count, 0, HOSTPORT_MAX_DEVICES); ++i) {
                char serial[HOSTPORT_SERIAL_SIZE] = {};
                if (library->getSerialNumber(ports[port], devices[i][0], devices[i][1], serial) == 0) continue;
                serial[HOSTPORT_SERIAL_SIZE - 1] = '\0';
                if (record.interfacePath != serial) continue;
                std::memcpy(hostPort.deviceEntry, devices[i], sizeof hostPort.deviceEntry);
                std::memcpy(hostPort.portRecord, ports[port], HOST_PORT_RECORD_SIZE);
                record.info.flags |= DRIVE_INFO_HOST_PORT_VALID;
                return;
            }
        }
        library->closePort(ports[port]);
    }
}

void Keep(RecordPtr record, ScanList* scan)
{
    if (scan != nullptr) {
        scan->push_back(std::move(record));
        return;
    }
    CvError error;
    if (RegisterDrive(std::move(record), &error) == 0) CvLogThreadError(CV_LOG_ERROR, &error);
}

// When udev cannot be used: every disk listed in sysfs, with an empty interface
// path. A registration failure takes back what this list registered.
void StaticEnumeration(const std::string& problem)
{
    PluginState& state = State();
    CvLog(CV_LOG_WARNING, "Problem while trying to use HAL, falling back to a static device list: %s",
          problem.c_str());
    std::vector<std::string> names = state.system->ListDirectory(kSysBlock);
    std::sort(names.begin(), names.end());
    std::vector<CvUID> registered;
    for (const std::string& name : names) {
        if (IsVirtualName(name) || IsMultipathPathName(name)) continue;
        const std::string node = "/dev/" + name;
        if (!state.system->CanOpen(node)) continue;
        if (IsFilteredOut(*state.system, state.mode, name)) continue;
        unsigned major = 0, minor = 0;
        const auto number = state.system->ReadFile(kSysBlock + "/" + name + "/dev");
        const bool known = number && std::sscanf(number->c_str(), "%u:%u", &major, &minor) == 2;
        RecordPtr record = MakeRecord("", node, known ? DriveNumberOf(major, minor) : -1, name);
        HostPortLookup(*record);
        DriveRecord* raw = record.get();
        CvError error;
        if (RegisterDrive(std::move(record), &error) == 0) {
            CvLogThreadError(CV_LOG_ERROR, &error);
            for (CvUID uid : registered) {
                CvError ignored;
                CvResourceManager_Unregister(uid, &ignored);
            }
            return;
        }
        std::lock_guard lock(state.mutex);
        registered.push_back(raw->resourceId);
    }
}

// Finds the disks. Registering use (scan == nullptr): each disk kept becomes a
// resource at once. Collecting use: each goes to the scan list.
void Enumerate(ScanList* scan)
{
    PluginState& state = State();
    std::vector<DiskEntry> disks;
    std::string problem;
    if (!state.system->EnumerateDisks(disks, problem)) {
        if (scan == nullptr) StaticEnumeration(problem);
        else CvLog(CV_LOG_WARNING, "Unable to enumerate disks: %s", problem.c_str());
        return;
    }
    for (const DiskEntry& disk : disks) {
        if (IsVirtualDevPath(disk.devPath) || IsVirtualName(disk.sysName) || IsMultipathPathName(disk.sysName))
            continue;
        if (disk.devNode.empty() || !state.system->CanOpen(disk.devNode)) continue;
        if (IsFilteredOut(*state.system, state.mode, disk.sysName)) continue;
        RecordPtr record = MakeRecord(disk.identity, disk.devNode, DriveNumberOf(disk.major, disk.minor), disk.sysName);
        if (disk.bus == "usb") record->info.flags |= DRIVE_INFO_BUS_USB;
        HostPortLookup(*record);
        Keep(std::move(record), scan);
    }
}

DriveRecord* FindLingering(const std::string& interfacePath)
{
    for (DriveRecord* record : State().linger) {
        if (record->interfacePath == interfacePath) return record;
    }
    return nullptr;
}

void DeviceAdded(ScanList& scan)
{
    PluginState& state = State();
    std::unique_lock lock(state.mutex);
    // Disks that come back within their linger time keep their resource.
    for (DriveRecord* record : state.drives) {
        if (record->available) continue;
        auto entry = std::find_if(scan.begin(), scan.end(), [&](const RecordPtr& candidate) {
            return candidate->interfacePath == record->interfacePath && candidate->resourceId == CV_UID_NONE;
        });
        if (entry == scan.end()) continue;
        DriveRecord* lingering = FindLingering(record->interfacePath);
        if (lingering == nullptr) continue;
        auto& linger = state.linger;
        linger.erase(std::find(linger.begin(), linger.end(), lingering));
        lingering->driveNumber = (*entry)->driveNumber;
        lingering->systemPath = (*entry)->systemPath;
        lingering->accessPath = (*entry)->accessPath;
        lingering->sysName = (*entry)->sysName;
        lingering->available = true;
        lingering->waitable = true;
        Broadcast(*lingering);
        NotifyListeners(*lingering, 1);
        (*entry)->resourceId = lingering->resourceId;
        CvLog(CV_LOG_INFO, "Pnp_DeviceAdded: device found in lingerList %s, PhysicalDrive%d",
              lingering->interfacePath.c_str(), lingering->driveNumber);
    }
    // Disks not known yet.
    for (const RecordPtr& entry : scan) {
        const bool known = std::any_of(state.drives.begin(), state.drives.end(), [&](const DriveRecord* record) {
            return record->interfacePath == entry->interfacePath && record->driveNumber == entry->driveNumber;
        });
        if (known) continue;
        RecordPtr record = MakeRecord(entry->interfacePath, entry->accessPath, entry->driveNumber, entry->sysName);
        record->systemPath = entry->systemPath;
        record->info = entry->info;  // keeps the bus flag and the host-port copies
        lock.unlock();
        if (IsFilteredOut(*state.system, state.mode, record->sysName)) {
            record.reset();
        } else {
            CvLog(CV_LOG_INFO, "Pnp_DeviceAdded: ADD new device %s, disk%d, call CvOsDevices_RegisterDrive",
                  record->interfacePath.c_str(), record->driveNumber);
            CvError error;
            if (RegisterDrive(std::move(record), &error) == 0) CvLogThreadError(CV_LOG_ERROR, &error);
        }
        lock.lock();
    }
}

void DeviceRemoved(const ScanList& scan)
{
    PluginState& state = State();
    std::lock_guard lock(state.mutex);
    for (DriveRecord* record : state.drives) {
        if (!record->available) continue;
        const bool present = std::any_of(scan.begin(), scan.end(), [&](const RecordPtr& entry) {
            return entry->interfacePath == record->interfacePath;
        });
        if (present) continue;
        state.linger.push_back(record);
        record->available = false;
        record->waitable = true;
        record->removalTime = Ticks();
        Broadcast(*record);
        NotifyListeners(*record, 0);
        CvLog(CV_LOG_INFO, "Pnp_DeviceRemoved: device added to lingerList %s, PhysicalDrive%d",
              record->interfacePath.c_str(), record->driveNumber);
    }
}

void OnArrival(const DiskEvent& event)
{
    PluginState& state = State();
    CvLog(CV_LOG_INFO, "DBT_DEVICEARRIVAL:");
    ScanList scan;
    if (!state.noPnpDelay) {
        int delay = state.timing.settleMs;
        if (state.mode == FilterMode::IgnoreIfItHasMountedVolumes) {
            CvLog(CV_LOG_INFO, "DEVICEARRIVAL: wait for volumes to mount");
            delay = state.timing.mountSettleMs;
        }
        if (!Settle(delay)) return;
    }
    Enumerate(&scan);
    CvLog(CV_LOG_INFO, "DEVICEARRIVAL: %s", event.devPath.c_str());
    DeviceAdded(scan);
}

void OnRemoval(const DiskEvent& event)
{
    PluginState& state = State();
    CvLog(CV_LOG_INFO, "DBT_DEVICEREMOVECOMPLETE:");
    ScanList scan;
    if (!state.noPnpDelay && !Settle(state.timing.settleMs)) return;
    Enumerate(&scan);
    CvLog(CV_LOG_INFO, "DEVICEREMOVECOMPLETE: %s", event.devPath.c_str());
    DeviceRemoved(scan);
}

// Unregisters the lingering records whose time-out has passed.
void ExpireLingering()
{
    PluginState& state = State();
    std::vector<CvUID> expired;
    {
        std::lock_guard lock(state.mutex);
        const uint64_t now = Ticks();
        auto& linger = state.linger;
        for (std::size_t i = linger.size(); i-- > 0 && expired.size() < kMaxExpiredPerPass;) {
            DriveRecord* record = linger[i];
            if (record->lingerTimeout < 0) continue;
            const uint64_t seconds = TicksElapsed(record->removalTime, now) / TicksPerSecond();
            if (seconds < static_cast<uint64_t>(record->lingerTimeout)) continue;
            linger.erase(linger.begin() + static_cast<std::ptrdiff_t>(i));
            expired.push_back(record->resourceId);
            record->available = false;
            record->waitable = false;
            Broadcast(*record);
            CvLog(CV_LOG_INFO, "Pnp_WorkLoop: device timed out, removed from lingerList %s, PhysicalDrive%d",
                  record->interfacePath.c_str(), record->driveNumber);
        }
    }
    for (CvUID resource : expired) {
        CvError error;
        if (CvResourceManager_Unregister(resource, &error) == 0) CvLogThreadError(CV_LOG_ERROR, &error);
    }
}

void SignalPopulated()
{
    PluginState& state = State();
    std::lock_guard lock(state.populateMutex);
    state.populated = true;
    state.populateChanged.notify_all();
}

}  // namespace

bool IsRunning()
{
    PluginState& state = State();
    std::lock_guard lock(state.runMutex);
    return state.running;
}

void WorkLoop()
{
    PluginState& state = State();
    // Listening starts before the first enumeration, so that no disk arriving
    // in between is missed.
    std::string problem;
    const bool monitoring = state.system->StartMonitor(problem);
    if (!monitoring) CvLog(CV_LOG_WARNING, "Disk hot-plug events are not available: %s", problem.c_str());
    Enumerate(nullptr);
    SignalPopulated();
    while (IsRunning()) {
        const std::optional<DiskEvent> event = state.system->WaitForEvent(state.timing.pollMs);
        if (event && !IsVirtualDevPath(event->devPath) && IsRunning()) {
            if (event->action == "add") OnArrival(*event);
            else if (event->action == "remove") OnRemoval(*event);
        }
        ExpireLingering();
    }
    if (monitoring) state.system->StopMonitor();
}

}  // namespace os_devices
