#include "os_devices.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace os_devices {

PluginState& State()
{
    static PluginState state;
    return state;
}

namespace {

bool ReadSettings(PluginState& state, const StringMap* settings, CvError* error)
{
    state.mode = FilterMode::IgnoreIfItHasMountedVolumes;
    state.scanTimeout = 0;
    state.noPnpDelay = false;
    if (settings == nullptr) return true;
    const char* filter = StringMap_GetString(settings, "DriveFilter", "IgnoreIfItHasMountedVolumes");
    if (!ParseFilterMode(filter, state.mode)) {
        CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Unknown drive filter setting: '%s'", filter);
        return false;
    }
    state.scanTimeout = static_cast<int32_t>(std::strtol(StringMap_GetString(settings, "ScanTimeout", "30"), nullptr, 10));
    const char* noPnpDelay = StringMap_GetValue(settings, "NoPnpDelay");
    state.noPnpDelay = noPnpDelay != nullptr && std::strcmp(noPnpDelay, "1") == 0;
    return true;
}

void WaitForFirstScan(PluginState& state)
{
    std::unique_lock lock(state.populateMutex);
    const auto done = [&] { return state.populated; };
    if (state.scanTimeout < 0) {
        state.populateChanged.wait(lock, done);
        return;
    }
    if (state.scanTimeout > 0 && !state.populateChanged.wait_for(lock, std::chrono::seconds(state.scanTimeout), done))
        // Disks the scan finds from now on come as hot-plug events, possibly
        // after a client has looked: say so.
        CvLog(CV_LOG_WARNING,
              "The first disk scan has not finished after %d seconds; disks it finds later are added as it finds them",
              static_cast<int>(state.scanTimeout));
}

}  // namespace

int Start(SystemInterface& system, const StringMap* settings, const Timing& timing, CvError* error)
{
    PluginState& state = State();
    {
        std::lock_guard lock(state.counterMutex);
        state.resourceCounter = 0;
    }
    {
        std::lock_guard lock(state.mutex);
        state.drives.clear();
        state.linger.clear();
        if (!ReadSettings(state, settings, error)) return 0;
        state.system = &system;
        state.timing = timing;
    }
    {
        std::lock_guard lock(state.populateMutex);
        state.populated = false;
    }
    {
        std::lock_guard lock(state.runMutex);
        state.running = true;
    }
    state.thread = std::thread(WorkLoop);
    state.started = true;
    WaitForFirstScan(state);
    return CvSetNoThreadError(error);
}

int Stop(CvError* error)
{
    PluginState& state = State();
    if (state.started) {
        {
            std::lock_guard lock(state.runMutex);
            state.running = false;
            state.runChanged.notify_all();
        }
        state.system->Interrupt();
        if (state.thread.joinable()) state.thread.join();
        state.started = false;
    }

    std::vector<CvUID> resources;
    {
        std::lock_guard lock(state.mutex);
        for (DriveRecord* record : state.drives) {
            if (resources.size() == kMaxStopSnapshot) break;
            resources.push_back(record->resourceId);
            // Nobody may stay blocked in "wait until available" on a disk that goes now.
            record->waitable = false;
            Broadcast(*record);
        }
    }
    for (CvUID resource : resources) {
        if (CvResourceManager_Unregister(resource, error) == 0) return 0;
    }
    std::lock_guard lock(state.mutex);
    state.drives.clear();
    state.linger.clear();
    return CvSetNoThreadError(error);
}

}  // namespace os_devices
