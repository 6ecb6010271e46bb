// Every wait of a registry (a disposal or a shut-down waiting for calls and
// submitted commands to drain) polls through CrtSleepMicro. A test program that
// links poll_watch.cpp provides that function itself and counts the polls, so a
// test can tell that a call is waiting, without sleeping itself.
#pragma once

#include <condition_variable>
#include <mutex>

namespace corvane_test {

class PollWatch {
public:
    void poll()
    {
        std::lock_guard lock(mutex_);
        ++polls_;
        changed_.notify_all();
    }
    int count()
    {
        std::lock_guard lock(mutex_);
        return polls_;
    }
    // Blocks until at least `atLeast` polls have happened in total.
    void waitFor(int atLeast)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return polls_ >= atLeast; });
    }
    // Blocks until somebody polls after this call.
    void waitForNext() { waitFor(count() + 1); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int polls_ = 0;
};

PollWatch& Polls();

}  // namespace corvane_test
