// The work queue: order, the single work thread and the drain at shut-down.
#include <corvane.h>
#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "work_items.h"

namespace {

using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::WorkGate;
using corvane_test::WorkMarker;

struct Journal {
    std::mutex mutex;
    std::vector<std::string> entries;
    std::vector<std::thread::id> threads;
    void add(std::string entry)
    {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(entry));
        threads.push_back(std::this_thread::get_id());
    }
};

struct Step {
    Journal* journal;
    std::string name;
    int followUps;  // items this item queues from the work thread
};

void RunStep(void* argument);

void Queue(Journal* journal, std::string name, int followUps)
{
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    work->argument = std::make_unique<Step>(Step{journal, std::move(name), followUps}).release();
    work->function = RunStep;
    CvWorkManager_QueueWork(work);
}

void RunStep(void* argument)
{
    const std::unique_ptr<Step> step(static_cast<Step*>(argument));
    step->journal->add(step->name);
    if (step->followUps > 0) Queue(step->journal, step->name + "+", step->followUps - 1);
}

class WorkQueueTest : public ::testing::Test {
protected:
    void SetUp() override { CvLogEventManager_Initialize(); }
    void TearDown() override { CvLogEventManager_Uninitialize(); }
};

TEST_F(WorkQueueTest, RunsItemsInOrderOnOneThreadAndDrainsAtShutdown)
{
    LogCapture log;
    Journal journal;
    CvWorkManager_Initialize();
    WorkGate gate;  // everything below is queued before anything runs
    Queue(&journal, "a", 3);
    Queue(&journal, "b", 0);
    Queue(&journal, "c", 1);
    gate.open();
    // Shut-down runs everything still queued, including what the items queue.
    CvWorkManager_Uninitialize();

    EXPECT_EQ(journal.entries, (std::vector<std::string>{"a", "b", "c", "a+", "c+", "a++", "a+++"}));
    for (const auto& id : journal.threads) {
        EXPECT_EQ(journal.threads.front(), id);
        EXPECT_NE(std::this_thread::get_id(), id);
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(WorkQueueTest, AWorkItemMayShutTheQueueDown)
{
    CvWorkManager_Initialize();
    std::latch stopped(1);
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    work->argument = &stopped;
    work->function = [](void* latch) {
        CvWorkManager_Uninitialize();  // cannot wait for its own thread
        static_cast<std::latch*>(latch)->count_down();
    };
    CvWorkManager_QueueWork(work);
    stopped.wait();

    // A fresh start gets a working thread of its own.
    CvWorkManager_Initialize();
    WorkMarker marker;
    EXPECT_NE(std::this_thread::get_id(), marker.thread());
    CvWorkManager_Uninitialize();
}

TEST_F(WorkQueueTest, WorkQueuedWithoutAWorkThreadIsDropped)
{
    LogCapture log;
    int runs = 0;
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    work->argument = &runs;
    work->function = [](void* counter) { ++*static_cast<int*>(counter); };
    CvWorkManager_QueueWork(work);
    EXPECT_EQ(0, runs);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Work is still pending on the work queue"}}));
}

}  // namespace
