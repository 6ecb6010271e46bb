// Hot-plug events: delivered on the work thread, in the order signalled, to the
// listeners present when each event is delivered.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "work_items.h"

namespace {

using corvane_test::WorkGate;
using corvane_test::WorkMarker;

// Records every event as text, with the thread it arrived on.
struct Recorder {
    std::string tag;
    std::vector<std::string> events;
    std::vector<std::thread::id> threads;
    CvHotplugListener listener{};

    explicit Recorder(std::string name) : tag(std::move(name))
    {
        listener.userData = this;
        listener.machineServiceAdded = [](void* self, CvUID service, const CvServiceInfo* info) {
            note(self, "machine service added " + std::to_string(service) + " " + info->type);
        };
        listener.machineServiceRemoved = [](void* self, CvUID service) {
            note(self, "machine service removed " + std::to_string(service));
        };
        listener.resourceAdded = [](void* self, CvUID resource, const CvResourceInfo* info) {
            note(self, "resource added " + std::to_string(resource) + " " + info->name + " / " + info->description);
        };
        listener.resourceRemoved = [](void* self, CvUID resource) {
            note(self, "resource removed " + std::to_string(resource));
        };
        listener.resourceServiceAdded = [](void* self, CvUID resource, CvUID service, const CvServiceInfo* info) {
            note(self, "service added " + std::to_string(resource) + ":" + std::to_string(service) + " " + info->type);
        };
        listener.resourceServiceRemoved = [](void* self, CvUID resource, CvUID service) {
            note(self, "service removed " + std::to_string(resource) + ":" + std::to_string(service));
        };
    }
    static void note(void* self, std::string event)
    {
        auto* recorder = static_cast<Recorder*>(self);
        recorder->events.push_back(std::move(event));
        recorder->threads.push_back(std::this_thread::get_id());
    }
};

CvServiceInfo ServiceInfo(const char* type)
{
    CvServiceInfo info{};
    std::strncpy(info.type, type, sizeof info.type - 1);
    return info;
}

class HotplugEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvLogEventManager_Initialize();
        CvWorkManager_Initialize();
        CvHotplugEventManager_Initialize();
    }
    void TearDown() override
    {
        CvHotplugEventManager_Uninitialize();
        CvWorkManager_Uninitialize();
        CvLogEventManager_Uninitialize();
    }
};

TEST_F(HotplugEventsTest, DeliversEveryKindInOrderOnTheWorkThread)
{
    Recorder recorder("r");
    CvHotplugListener nothing{};  // all functions null: receives nothing
    CvHotplugEventManager_AddListener(&nothing);
    CvHotplugEventManager_AddListener(&recorder.listener);

    CvResourceInfo resource{};
    std::strcpy(resource.name, "device:0");
    std::strcpy(resource.description, "Disk 0");
    CvServiceInfo ata = ServiceInfo("ata/device");
    CvHotplugEventManager_SignalResourceAdded(10, &resource);
    std::strcpy(resource.name, "changed after the signal");
    CvHotplugEventManager_SignalResourceServiceAdded(10, 11, &ata);
    CvHotplugEventManager_SignalResourceServiceRemoved(10, 11);
    CvHotplugEventManager_SignalResourceRemoved(10);
    const CvServiceInfo machineService = ServiceInfo("machine/info");
    CvHotplugEventManager_SignalMachineServiceAdded(20, &machineService);
    CvHotplugEventManager_SignalMachineServiceRemoved(20);
    WorkMarker marker;

    const std::thread::id workThread = marker.thread();
    EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                   "resource added 10 device:0 / Disk 0",
                                   "service added 10:11 ata/device",
                                   "service removed 10:11",
                                   "resource removed 10",
                                   "machine service added 20 machine/info",
                                   "machine service removed 20",
                               }));
    for (const auto& id : recorder.threads) EXPECT_EQ(workThread, id);
    EXPECT_NE(std::this_thread::get_id(), workThread);
    CvHotplugEventManager_RemoveListener(&recorder.listener);
    CvHotplugEventManager_RemoveListener(&nothing);
}

// A listener that, on its first resource-added event, removes `victim`, adds
// `newcomer` and signals a further event.
struct Meddler {
    Recorder* victim;
    Recorder* newcomer;
    CvHotplugListener listener{};
    bool done = false;
};

TEST_F(HotplugEventsTest, ListenersMayChangeTheListenersWhileCalled)
{
    Recorder before("before"), victim("victim"), newcomer("newcomer");
    Meddler meddler{&victim, &newcomer};
    meddler.listener.userData = &meddler;
    meddler.listener.resourceAdded = [](void* self, CvUID, const CvResourceInfo*) {
        auto* m = static_cast<Meddler*>(self);
        if (m->done) return;
        m->done = true;
        CvHotplugEventManager_RemoveListener(&m->victim->listener);
        CvHotplugEventManager_AddListener(&m->newcomer->listener);
        CvHotplugEventManager_SignalResourceRemoved(1);  // queued behind this event
    };
    CvHotplugEventManager_AddListener(&before.listener);
    CvHotplugEventManager_AddListener(&meddler.listener);
    CvHotplugEventManager_AddListener(&victim.listener);

    CvResourceInfo info{};
    std::strcpy(info.name, "r");
    CvHotplugEventManager_SignalResourceAdded(1, &info);
    WorkMarker first;
    first.wait();
    WorkMarker second;  // behind the event the meddler queued
    second.wait();

    EXPECT_EQ(before.events, (std::vector<std::string>{"resource added 1 r / ", "resource removed 1"}));
    EXPECT_TRUE(victim.events.empty());
    EXPECT_EQ(newcomer.events, (std::vector<std::string>{"resource removed 1"}));
    CvHotplugEventManager_RemoveListener(&before.listener);
    CvHotplugEventManager_RemoveListener(&meddler.listener);
    CvHotplugEventManager_RemoveListener(&newcomer.listener);
}

TEST_F(HotplugEventsTest, OneRemovalTakesOutOneCopyOfAListenerAddedTwice)
{
    Recorder twice("twice");
    struct Remover {
        CvHotplugListener* target;
        bool done = false;
        CvHotplugListener listener{};
    } remover{&twice.listener};
    remover.listener.userData = &remover;
    remover.listener.resourceRemoved = [](void* self, CvUID) {
        auto* r = static_cast<Remover*>(self);
        if (!r->done) CvHotplugEventManager_RemoveListener(r->target);
        r->done = true;
    };
    CvHotplugEventManager_AddListener(&twice.listener);
    CvHotplugEventManager_AddListener(&remover.listener);
    CvHotplugEventManager_AddListener(&twice.listener);

    // The copy removed during the first event is the later one: not called for it.
    CvHotplugEventManager_SignalResourceRemoved(1);
    CvHotplugEventManager_SignalResourceRemoved(2);
    WorkMarker().wait();
    CvHotplugEventManager_RemoveListener(&twice.listener);
    CvHotplugEventManager_SignalResourceRemoved(3);
    WorkMarker().wait();
    EXPECT_EQ(twice.events, (std::vector<std::string>{"resource removed 1", "resource removed 2"}));
    CvHotplugEventManager_RemoveListener(&remover.listener);
}

TEST_F(HotplugEventsTest, EventsAfterShutdownOfTheListenersReachNobody)
{
    Recorder recorder("r");
    CvHotplugEventManager_AddListener(&recorder.listener);
    WorkGate gate;
    CvHotplugEventManager_SignalResourceRemoved(5);
    CvHotplugEventManager_Uninitialize();
    gate.open();
    WorkMarker marker;
    marker.wait();
    EXPECT_TRUE(recorder.events.empty());
    CvHotplugEventManager_Initialize();  // for TearDown
}

}  // namespace
