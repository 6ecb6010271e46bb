// The work queue: items run one after another on the core's single work thread.
// Hot-plug events travel through it too.
#include <corvane.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/never_destroyed.h"

namespace {

using corvane::NeverDestroyed;

struct WorkQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<CvWork*> items;
    bool exists = false;   // between Initialize and Uninitialize
    bool running = false;  // cleared by Uninitialize: the thread drains the queue and ends
    bool waiting = false;  // the thread sleeps on `wake`
    unsigned generation = 0;  // one per Initialize: a thread left over from before ends
    std::thread thread;
};

NeverDestroyed<WorkQueue> g_work;

void FreeDropped(std::deque<CvWork*>& items)
{
    for (CvWork* work : items) CvFree(work);
    items.clear();
}

void RunWorkThread(unsigned generation)
{
    WorkQueue& queue = *g_work;
    std::unique_lock lock(queue.mutex);
    for (;;) {
        if (queue.generation != generation) return;
        while (queue.items.empty()) {
            if (!queue.running || queue.generation != generation) return;
            queue.waiting = true;
            queue.wake.wait(lock);
            queue.waiting = false;
        }
        CvWork* work = queue.items.front();
        queue.items.pop_front();
        lock.unlock();
        if (work->function != nullptr) work->function(work->argument);
        CvFree(work);
        lock.lock();
    }
}

}  // namespace

void CvWorkManager_Initialize(void)
{
    WorkQueue& queue = *g_work;
    {
        std::lock_guard lock(queue.mutex);
        if (queue.exists) return;
        queue.running = true;
        queue.waiting = false;
        ++queue.generation;
        try {
            queue.thread = std::thread(RunWorkThread, queue.generation);
            queue.exists = true;
            return;
        } catch (const std::system_error&) {
            queue.running = false;
        }
    }
    // The work mutex is taken alone: a log listener may queue work.
    CvLog(CV_LOG_ERROR, "Unable to start the work thread");
}

void CvWorkManager_Uninitialize(void)
{
    WorkQueue& queue = *g_work;
    std::thread worker;
    {
        std::lock_guard lock(queue.mutex);
        if (!queue.exists || !queue.running) return;
        queue.running = false;
        if (queue.waiting) queue.wake.notify_one();
        worker = std::move(queue.thread);
    }
    // The thread runs every item still queued, including items those items queue.
    // Shut down from a work item, it cannot wait for itself: it ends once that
    // item returns, and what is still queued is dropped below.
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }

    std::deque<CvWork*> dropped;
    {
        std::lock_guard lock(queue.mutex);
        dropped.swap(queue.items);
        queue.exists = false;
    }
    if (!dropped.empty()) {
        // Queued by other threads after the work thread had ended: never run.
        CvLog(CV_LOG_ERROR, "Work is still pending on the work queue");
        FreeDropped(dropped);
    }
}

void CvWorkManager_QueueWork(CvWork* work)
{
    if (work == nullptr) return;
    WorkQueue& queue = *g_work;
    {
        std::lock_guard lock(queue.mutex);
        if (queue.exists) {
            queue.items.push_back(work);
            if (queue.waiting) queue.wake.notify_one();
            return;
        }
    }
    // No work thread to run it: dropped like work left over at shut-down.
    CvLog(CV_LOG_ERROR, "Work is still pending on the work queue");
    CvFree(work);
}
