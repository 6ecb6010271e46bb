// Work items for tests: a gate that holds the work thread until released, and a
// marker that tells when the work thread has reached it.
#pragma once

#include <corvane.h>

#include <latch>
#include <thread>

namespace corvane_test {

// Holds the work thread from the moment it reaches the gate until open(). The
// gate must outlive the work thread's wait: open it, then let the thread move on
// (a WorkMarker, or the work manager's shut-down) before it goes out of scope.
class WorkGate {
public:
    WorkGate()
    {
        auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
        work->argument = &open_;
        work->function = [](void* latch) { static_cast<std::latch*>(latch)->wait(); };
        CvWorkManager_QueueWork(work);
    }
    ~WorkGate() { open(); }
    void open()
    {
        if (!opened_) open_.count_down();
        opened_ = true;
    }

private:
    std::latch open_{1};
    bool opened_ = false;
};

// Queued behind everything queued so far; wait() returns once the work thread
// has run it, and thread() is the work thread's identity.
class WorkMarker {
public:
    WorkMarker()
    {
        auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
        work->argument = this;
        work->function = [](void* self) {
            auto* marker = static_cast<WorkMarker*>(self);
            marker->thread_ = std::this_thread::get_id();
            marker->reached_.count_down();
        };
        CvWorkManager_QueueWork(work);
    }
    void wait() { reached_.wait(); }
    std::thread::id thread()
    {
        wait();
        return thread_;
    }

private:
    std::latch reached_{1};
    std::thread::id thread_;
};

}  // namespace corvane_test
