// Log events: every log line of the framework and its plug-ins goes to the
// listeners, on the thread that logs.
#include <corvane.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "core/never_destroyed.h"
#include "read_write_lock.h"

namespace {

using corvane::NeverDestroyed;
using corvane::ReadWriteLock;

struct LogListeners {
    ReadWriteLock lock;
    bool active = false;  // the listener list exists between Initialize and Uninitialize
    std::vector<CvLogListener*> listeners;
};

constinit NeverDestroyed<LogListeners> g_log;

}  // namespace

void CvLogEventManager_Initialize(void)
{
    std::unique_lock lock(g_log->lock);
    g_log->active = true;
}

void CvLogEventManager_Uninitialize(void)
{
    std::unique_lock lock(g_log->lock);
    g_log->active = false;
    g_log->listeners.clear();
    g_log->listeners.shrink_to_fit();
}

void CvLogEventManager_AddListener(CvLogListener* listener)
{
    if (listener == nullptr) return;
    std::unique_lock lock(g_log->lock);
    if (g_log->active) g_log->listeners.push_back(listener);
}

void CvLogEventManager_RemoveListener(CvLogListener* listener)
{
    std::unique_lock lock(g_log->lock);
    // One removal undoes one addition, the latest: a listener added twice stays
    // attached once.
    auto& listeners = g_log->listeners;
    const auto found = std::find(listeners.rbegin(), listeners.rend(), listener);
    if (found != listeners.rend()) listeners.erase(std::next(found).base());
}

void CvLog(int level, const char* format, ...)
{
    std::shared_lock lock(g_log->lock);
    if (g_log->listeners.empty() || format == nullptr) return;

    char message[CV_LOG_MESSAGE_MAX + 1];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    message[sizeof message - 1] = '\0';

    for (const CvLogListener* listener : g_log->listeners)
        if (listener->log != nullptr) listener->log(listener->userData, level, message);
}
