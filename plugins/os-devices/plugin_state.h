// State of the OS devices plug-in: one instance per process, shared by the
// discovery thread, the services and the listener operations.
#pragma once

#include <corvane.h>
#include <device/os_driveinfo.h>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive_filter.h"
#include "system_interface.h"

namespace os_devices {

constexpr int32_t kDefaultLingerSeconds = 60;
constexpr std::size_t kMaxExpiredPerPass = 4096;
constexpr std::size_t kMaxStopSnapshot = 4096;
constexpr const char* kDriveDescription = "Hard drive controlled by a Linux driver";

// One disk. Every field is guarded by the plug-in mutex.
struct DriveRecord {
    CvUID resourceId = CV_UID_NONE;
    CvUID informationServiceId = CV_UID_NONE;
    CvUID hotplugServiceId = CV_UID_NONE;
    std::string interfacePath;  // identity across rescans; empty for the static list
    int32_t driveNumber = -1;
    int32_t resourceNumber = 0;
    std::string description = kDriveDescription;
    std::string systemPath;
    std::string accessPath;
    std::string sysName;        // kernel name, for the drive filter
    DriveInfoBlock info{};
    int32_t lingerTimeout = kDefaultLingerSeconds;  // seconds; negative: never expires
    bool available = true;
    bool waitable = true;
    uint64_t removalTime = 0;
    std::condition_variable changed;  // with the plug-in mutex; see Broadcast
    uint64_t changes = 0;             // counts broadcasts, so a waiter knows it was woken
    int waiters = 0;
    std::vector<DriveListener*> listeners;
};

using RecordPtr = std::unique_ptr<DriveRecord>;

// Delays of the hot-plug handling, in milliseconds. Tests shorten them; the
// plug-in itself always runs with the defaults.
struct Timing {
    int settleMs = 4000;        // before a rescan after an event
    int mountSettleMs = 30000;  // after an arrival when mounted volumes are filtered
    int pollMs = 1000;          // longest wait for an event between linger passes
};

struct PluginState {
    std::mutex mutex;                  // the plug-in mutex
    std::vector<DriveRecord*> drives;  // registered records
    std::vector<DriveRecord*> linger;  // records of disks that went away
    std::list<RecordPtr> owned;        // every record handed to the resource manager

    std::mutex counterMutex;  // guards only resourceCounter
    int32_t resourceCounter = 0;

    FilterMode mode = FilterMode::IgnoreIfItHasMountedVolumes;
    int32_t scanTimeout = 0;
    bool noPnpDelay = false;
    Timing timing;
    SystemInterface* system = nullptr;
    bool started = false;

    // Running flag and the settling sleeps, which a stop cuts short.
    std::mutex runMutex;
    std::condition_variable runChanged;
    bool running = false;

    // "PopulateDevicesEvent": set once the first enumeration has finished.
    std::mutex populateMutex;
    std::condition_variable populateChanged;
    bool populated = false;

    std::thread thread;
};

PluginState& State();

// Wakes the waiters of "wait until available". Call with the plug-in mutex held.
void Broadcast(DriveRecord& record);

int32_t NextResourceNumber();
// A fresh record for a disk, not yet registered.
RecordPtr MakeRecord(const std::string& interfacePath, const std::string& path, int32_t driveNumber,
                     const std::string& sysName);
// Registers the record as a resource with its two services; takes ownership.
int RegisterDrive(RecordPtr record, CvError* error);
// Registers the two services on a freshly registered resource.
int RegisterDriveServices(DriveRecord& record, CvError* error);

// Discovery thread (discovery.cpp).
void WorkLoop();
bool IsRunning();

}  // namespace os_devices
