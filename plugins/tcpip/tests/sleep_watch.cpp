#include "sleep_watch.h"

#include <algorithm>
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

void WaitForSleepOnAny(const std::vector<std::thread::id>& threads)
{
    std::unique_lock lock(g_mutex);
    g_slept.wait(lock, [&] {
        return std::any_of(threads.begin(), threads.end(),
                           [](std::thread::id thread) { return g_sleeps.contains(thread); });
    });
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
