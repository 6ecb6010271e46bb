#include "sleep_watch.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace tcpip_bridge_test {
namespace {

std::mutex g_mutex;
std::condition_variable g_slept;
std::map<std::thread::id, int> g_sleeps;

}  // namespace

std::thread::id WaitForSleepOnAny(const std::vector<std::thread::id>& threads)
{
    std::unique_lock lock(g_mutex);
    std::thread::id found;
    g_slept.wait(lock, [&] {
        for (const std::thread::id thread : threads)
            if (g_sleeps.contains(thread)) {
                found = thread;
                return true;
            }
        return false;
    });
    return found;
}

}  // namespace tcpip_bridge_test

extern "C" void CrtSleepMicro(int64_t microseconds)
{
    using namespace tcpip_bridge_test;
    {
        std::lock_guard lock(g_mutex);
        ++g_sleeps[std::this_thread::get_id()];
    }
    g_slept.notify_all();
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}
