// cvpl-local end to end: the plug-in loaded by the plug-in manager in front of
// the test services plug-in, machines created from "cv-local" URLs, and every
// command going client -> machine manager -> local bridge -> resource manager
// -> the test plug-in's service, with completions coming back from that
// plug-in's own worker thread.
#include <corvane.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client_spy.h"
#include "log_capture.h"
#include "poll_watch.h"
#include "submitter.h"
#include "test_services.h"
#include "work_items.h"

namespace {

using corvane_test::Polls;
using corvane_test::Submitter;
using corvane_test::WorkMarker;
using cvpl_local_test::ClientCall;
using cvpl_local_test::ClientCalls;

std::string Id(CvUID uid) { return std::to_string(static_cast<int>(uid)); }

std::vector<CvUID> Listed(const CvUIDList& list) { return {list.uids, list.uids + list.count}; }

// Registers a resource and unregisters it again, then lets the work thread
// deliver both events before returning.
void ResourceComesAndGoes(const char* name)
{
    CvResourceDescriptor descriptor{};
    std::strncpy(descriptor.info.name, name, sizeof descriptor.info.name - 1);
    CvUID uid = CV_UID_NONE;
    CvError error;
    ASSERT_EQ(1, CvResourceManager_Register(&descriptor, &uid, &error)) << error.message;
    ASSERT_EQ(1, CvResourceManager_Unregister(uid, &error)) << error.message;
    WorkMarker().wait();
}

class LocalBridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("CORVANE_PLUGIN_PATH", TestServicesHooks::Directory().c_str(), 1);
        CvInitialize();
        cvpl_local_test::ClearClientCalls();
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "Resources", "drive:0");
        StringMap_SetValue(settings, "Services", "test/echo, test/async");
        StringMap_SetValue(settings, "AsyncCompletion", "held");
        CvUID services = CV_UID_NONE;
        const int loaded = CvPluginManager_Load(TEST_SERVICES_PLUGIN_NAME, settings, &services, &error);
        StringMap_Destroy(settings);
        ASSERT_EQ(1, loaded) << error.message;
        ASSERT_EQ(1, CvPluginManager_Load("cvpl-local", nullptr, &plugin, &error)) << error.message;

        ASSERT_EQ(1, CvResourceManager_LookupResource("drive:0", &resource, &error));
        ASSERT_EQ(1, CvResource_LookupResourceService(resource, "test/echo", &echo, &error));
        ASSERT_EQ(1, CvResource_LookupResourceService(resource, "test/async", &async, &error));
    }
    void TearDown() override
    {
        CvError down;
        EXPECT_EQ(1, CvUninitialize(&down)) << down.message;
    }

    CvUID create(const char* url = "cv-local://localhost")
    {
        CvUID uid = CV_UID_NONE;
        CvError failure;
        EXPECT_EQ(1, CvMachineManager_CreateMachine(url, &uid, &failure)) << failure.message;
        return uid;
    }
    CvUID connected()
    {
        const CvUID uid = create();
        CvError failure;
        EXPECT_EQ(1, CvMachine_Connect(uid, nullptr, &failure)) << failure.message;
        return uid;
    }
    std::vector<CvUID> machines()
    {
        CvError failure;
        EXPECT_EQ(1, CvMachineManager_GetMachineList(list.get(), &failure));
        return Listed(*list);
    }
    std::vector<CvUID> bridges()
    {
        CvError failure;
        EXPECT_EQ(1, CvBridgeManager_GetBridgeList(list.get(), &failure));
        return Listed(*list);
    }

    TestServicesHooks hooks;
    CvUID plugin = CV_UID_NONE;
    CvUID resource = CV_UID_NONE;
    CvUID echo = CV_UID_NONE;
    CvUID async = CV_UID_NONE;
    CvError error{};
    std::unique_ptr<CvUIDList> list = std::make_unique<CvUIDList>();
};

TEST_F(LocalBridgeTest, RegistersTheLocalAccessBridge)
{
    CvPluginInfo pluginInfo;
    ASSERT_EQ(1, CvPlugin_GetInfo(plugin, &pluginInfo, &error));
    EXPECT_STREQ("Local Access Plugin", pluginInfo.name);
    EXPECT_STREQ("Allows clients to access resources and services on the local machine", pluginInfo.description);
    EXPECT_STREQ("1.12.7.3", pluginInfo.version);

    ASSERT_EQ(1u, bridges().size());
    CvBridgeInfo info;
    ASSERT_EQ(1, CvBridge_GetInfo(bridges()[0], &info, &error));
    EXPECT_STREQ("Local Access Bridge", info.name);
    EXPECT_STREQ("Allows a client to access resources and services on the local machine", info.description);
    EXPECT_STREQ("cv-local", info.protocol);
}

TEST_F(LocalBridgeTest, ConnectAndDisconnectAlternate)
{
    const CvUID uid = create("CV-Local://localhost");
    int isConnected = -1;
    ASSERT_EQ(1, CvMachine_IsConnected(uid, &isConnected, &error));
    EXPECT_EQ(0, isConnected);

    EXPECT_EQ(0, CvMachine_Disconnect(uid, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_EQ("Machine " + Id(uid) + " is already disconnected", error.message);

    ASSERT_EQ(1, CvMachine_Connect(uid, nullptr, &error));
    ASSERT_EQ(1, CvMachine_IsConnected(uid, &isConnected, &error));
    EXPECT_EQ(1, isConnected);
    EXPECT_EQ(0, CvMachine_Connect(uid, nullptr, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_EQ("Machine " + Id(uid) + " is already connected", error.message);

    ASSERT_EQ(1, CvMachine_Disconnect(uid, &error));
    ASSERT_EQ(1, CvMachine_IsConnected(uid, &isConnected, &error));
    EXPECT_EQ(0, isConnected);
}

TEST_F(LocalBridgeTest, ForwardedCallsNeedAConnection)
{
    const CvUID uid = create();
    const std::string notConnected = "Machine " + Id(uid) + " is not connected";
    CvResourceInfo resourceInfo;
    CvServiceInfo serviceInfo;
    CvCommand command{};
    Submitter submitter;

    EXPECT_EQ(0, CvMachine_GetResourceList(uid, list.get(), &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_EQ(notConnected, error.message);
    EXPECT_EQ(0, CvMachine_GetServiceList(uid, list.get(), &error));
    EXPECT_EQ(notConnected, error.message);
    EXPECT_EQ(0, CvResourceProxy_GetInfo(uid, resource, &resourceInfo, &error));
    EXPECT_EQ(notConnected, error.message);
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(uid, resource, echo, &command, &error));
    EXPECT_EQ(notConnected, error.message);
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(uid, resource, async, &command, &submitter.completion, &error));
    EXPECT_EQ(notConnected, error.message);
    EXPECT_EQ(0, CvMachineServiceProxy_GetInfo(uid, 1, &serviceInfo, &error));
    EXPECT_EQ(notConnected, error.message);
    EXPECT_TRUE(ClientCalls().empty());

    // Connected, the machine shows this process's resources, walked as a client does.
    ASSERT_EQ(1, CvMachine_Connect(uid, nullptr, &error));
    ASSERT_EQ(1, CvMachine_GetResourceList(uid, list.get(), &error));
    const std::vector<CvUID> throughMachine = Listed(*list);
    ASSERT_EQ(1, CvResourceManager_GetResourceList(list.get(), &error));
    EXPECT_EQ(Listed(*list), throughMachine);
    EXPECT_EQ((std::vector<CvUID>{resource}), throughMachine);
    ASSERT_EQ(1, CvResourceProxy_GetInfo(uid, resource, &resourceInfo, &error));
    EXPECT_STREQ("drive:0", resourceInfo.name);
    ASSERT_EQ(1, CvResourceProxy_GetServiceList(uid, resource, list.get(), &error));
    EXPECT_EQ((std::vector<CvUID>{echo, async}), Listed(*list));
    ASSERT_EQ(1, CvResourceServiceProxy_GetInfo(uid, resource, async, &serviceInfo, &error));
    EXPECT_STREQ("test/async", serviceInfo.type);
    EXPECT_EQ(1, CvMachine_GetServiceList(uid, list.get(), &error));
    EXPECT_EQ(0, list->count);

    // The local managers' own errors come back unchanged.
    EXPECT_EQ(0, CvResourceProxy_GetInfo(uid, 99999, &resourceInfo, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_STREQ("Resource with UID 99999 was not found", error.message);
}

TEST_F(LocalBridgeTest, ExecutesThroughTheMachine)
{
    const CvUID uid = connected();
    std::array<char, 6> in = {'f', 'i', 'r', 'm', 'w', '!'};
    std::array<char, 6> out{};
    CvCommand command{};
    command.function = TEST_FUNCTION_ECHO;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = in.data();
    command.bufferLengths[0] = in.size();
    command.buffers[1] = out.data();
    command.bufferLengths[1] = out.size();
    ASSERT_EQ(1, CvResourceServiceProxy_ExecuteCommand(uid, resource, echo, &command, &error)) << error.message;
    EXPECT_EQ(TEST_ECHO_RESULT, command.result);
    EXPECT_EQ(in, out);

    // The service's own failure and the resource manager's checks reach the client unchanged.
    command.function = TEST_FUNCTION_FAIL;
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(uid, resource, echo, &command, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Test failure requested", error.message);
    command.function = TEST_FUNCTION_NOTHING;
    command.buffers[2] = nullptr;
    command.bufferLengths[2] = 512;
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(uid, resource, echo, &command, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Data buffer 2 is null but has a length of 512 bytes", error.message);
}

TEST_F(LocalBridgeTest, ClientUidIsDrawnOnceAndKeptAcrossReconnects)
{
    const CvUID uid = connected();
    CvCommand command{};
    ASSERT_EQ(1, CvResourceServiceProxy_ExecuteCommand(uid, resource, echo, &command, &error)) << error.message;
    ASSERT_EQ(1, CvMachine_Disconnect(uid, &error));
    ASSERT_EQ(1, CvMachine_Connect(uid, nullptr, &error));
    EXPECT_EQ(0, CvResourceServiceProxy_AbortCommand(uid, resource, echo, 17, &error));
    EXPECT_STREQ("Aborting commands not supported", error.message);
    EXPECT_EQ(0, CvMachineServiceProxy_ExecuteCommand(uid, 4242, &command, &error));
    EXPECT_STREQ("Machine service with UID 4242 was not found", error.message);

    // A second machine is a second client.
    const CvUID other = connected();
    ASSERT_EQ(1, CvResourceServiceProxy_ExecuteCommand(other, resource, echo, &command, &error));

    const std::vector<ClientCall> calls = ClientCalls();
    ASSERT_EQ(4u, calls.size());
    const CvUID client = calls[0].client;
    EXPECT_NE(CV_UID_NONE, client);
    EXPECT_EQ(calls, (std::vector<ClientCall>{{"resource execute", client},
                                              {"resource abort", client},
                                              {"machine execute", client},
                                              {"resource execute", calls[3].client}}));
    EXPECT_NE(client, calls[3].client);
}

TEST_F(LocalBridgeTest, SubmittedCommandCompletesOnTheServiceThread)
{
    const CvUID uid = connected();
    CvCommand command{};
    command.function = TEST_FUNCTION_FAIL;
    command.tag = 41;
    Submitter submitter;
    ASSERT_EQ(1, CvResourceServiceProxy_SubmitCommand(uid, resource, async, &command, &submitter.completion, &error))
        << error.message;
    hooks.waitHeld(1);

    // Outstanding: destroying the machine waits for the completion.
    auto destroyed = std::async(std::launch::async, [uid] {
        CvError e;
        return CvMachineManager_DestroyMachine(uid, &e);
    });
    Polls().waitForNext();
    Polls().waitForNext();
    hooks.completeHeld();

    const CvError outcome = submitter.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_FAILED, outcome.code);
    EXPECT_STREQ("Test failure requested", outcome.message);
    EXPECT_EQ(1, destroyed.get());
    // The record is the submitter's again.
    EXPECT_EQ(&submitter, submitter.completion.context);
    EXPECT_TRUE(machines().empty());
}

TEST_F(LocalBridgeTest, AbortReachesTheServiceThatHoldsTheCommand)
{
    const CvUID uid = connected();
    CvCommand command{};
    command.tag = 77;
    Submitter submitter;
    ASSERT_EQ(1, CvResourceServiceProxy_SubmitCommand(uid, resource, async, &command, &submitter.completion, &error));
    hooks.waitHeld(1);
    ASSERT_EQ(1, CvResourceServiceProxy_AbortCommand(uid, resource, async, 77, &error)) << error.message;
    const CvError outcome = submitter.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_FAILED, outcome.code);
    EXPECT_STREQ("Command with tag 77 was aborted", outcome.message);
}

TEST_F(LocalBridgeTest, RefusedSubmitLeavesTheCompletionRecordAndThePendingCountsAsTheyWere)
{
    const CvUID uid = connected();
    CvCommand command{};
    Submitter submitter;
    std::memset(&submitter.completion.error, 0xA5, sizeof submitter.completion.error);
    std::array<unsigned char, sizeof(CvCommandCompletion)> before;
    std::memcpy(before.data(), &submitter.completion, before.size());

    // Refused by the service, by the resource manager (unknown service), by the
    // machine service manager.
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(uid, resource, echo, &command, &submitter.completion, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Submitting commands not supported", error.message);
    EXPECT_EQ(0, std::memcmp(before.data(), &submitter.completion, before.size()));
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(uid, resource, 4242, &command, &submitter.completion, &error));
    EXPECT_EQ(0, std::memcmp(before.data(), &submitter.completion, before.size()));
    EXPECT_EQ(0, CvMachineServiceProxy_SubmitCommand(uid, 4242, &command, &submitter.completion, &error));
    EXPECT_EQ(0, std::memcmp(before.data(), &submitter.completion, before.size()));

    // No pending count was left raised: the resource goes at once, then the machine.
    const int polls = Polls().count();
    ASSERT_EQ(1, CvResourceManager_Unregister(resource, &error)) << error.message;
    ASSERT_EQ(1, CvMachineManager_DestroyMachine(uid, &error));
    EXPECT_EQ(polls, Polls().count());
}

TEST_F(LocalBridgeTest, EventListenerIsAttachedExactlyWhileConnected)
{
    // Touched on the work thread only, read after the events are delivered.
    struct Events {
        std::vector<std::string> seen;
        CvHotplugListener listener{};
    };
    Events first;
    Events second;
    for (Events* events : {&first, &second}) {
        events->listener.userData = events;
        events->listener.resourceAdded = [](void* self, CvUID, const CvResourceInfo* info) {
            static_cast<Events*>(self)->seen.push_back(info->name);
        };
    }
    const CvUID uid = create();
    CvHotplugListener* previous = &first.listener;

    // Set while disconnected: not attached until the connect.
    ASSERT_EQ(1, CvMachine_SetEventListener(uid, &first.listener, &previous, &error));
    EXPECT_EQ(nullptr, previous);
    ResourceComesAndGoes("before-connect");
    ASSERT_EQ(1, CvMachine_Connect(uid, nullptr, &error));
    ResourceComesAndGoes("connected");

    // Replaced while connected: the new one is attached at once, the old one detached.
    ASSERT_EQ(1, CvMachine_SetEventListener(uid, &second.listener, &previous, &error));
    EXPECT_EQ(&first.listener, previous);
    ResourceComesAndGoes("replaced");
    ASSERT_EQ(1, CvMachine_Disconnect(uid, &error));
    ResourceComesAndGoes("disconnected");

    EXPECT_EQ((std::vector<std::string>{"connected"}), first.seen);
    EXPECT_EQ((std::vector<std::string>{"replaced"}), second.seen);
}

TEST_F(LocalBridgeTest, LoggingListenerIsAttachedExactlyWhileConnected)
{
    struct Lines {
        std::vector<std::string> seen;
        CvLogListener listener{};
    } lines;
    lines.listener.userData = &lines;
    lines.listener.log = [](void* self, int, const char* message) {
        static_cast<Lines*>(self)->seen.push_back(message);
    };
    const CvUID uid = connected();
    CvLogListener* previous = nullptr;
    ASSERT_EQ(1, CvMachine_SetLoggingListener(uid, &lines.listener, &previous, &error));
    CvLog(CV_LOG_INFO, "while connected");
    ASSERT_EQ(1, CvMachine_Disconnect(uid, &error));
    CvLog(CV_LOG_INFO, "after disconnect");
    ASSERT_EQ(1, CvMachine_Connect(uid, nullptr, &error));
    CvLog(CV_LOG_INFO, "reconnected");
    // Destroying a connected machine detaches its listeners too.
    ASSERT_EQ(1, CvMachineManager_DestroyMachine(uid, &error));
    CvLog(CV_LOG_INFO, "machine gone");
    EXPECT_EQ((std::vector<std::string>{"while connected", "reconnected"}), lines.seen);
}

// The work thread, delivering an event, changes a machine's listener while
// another thread disconnects that machine: neither may wait for the other.
TEST_F(LocalBridgeTest, ListenerChangeOnTheWorkThreadDoesNotWaitForADisconnect)
{
    struct Scene {
        CvUID machine = CV_UID_NONE;
        CvHotplugListener attached{};
        CvHotplugListener replacement{};
        CvHotplugListener changer{};  // attached to the framework directly
        std::thread disconnector;
        int disconnected = -1;
        // Counted down once the disconnecting thread has reached the framework
        // or has returned, whichever comes first.
        std::atomic<bool> arrived{false};
        std::latch disconnecting{1};
        void arrive()
        {
            if (!arrived.exchange(true)) disconnecting.count_down();
        }
        std::promise<int> changed;
        CvHotplugListener* previous = nullptr;
    } scene;
    scene.machine = connected();
    ASSERT_EQ(1, CvMachine_SetEventListener(scene.machine, &scene.attached, nullptr, &error));
    scene.changer.userData = &scene;
    scene.changer.resourceAdded = [](void* self, CvUID, const CvResourceInfo* info) {
        auto& s = *static_cast<Scene*>(self);
        if (std::strcmp(info->name, "meeting") != 0) return;  // events left from the set-up
        s.disconnector = std::thread([&s] {
            CvError e;
            s.disconnected = CvMachine_Disconnect(s.machine, &e);
            s.arrive();
        });
        s.disconnecting.wait();
        CvError e;
        s.changed.set_value(CvMachine_SetEventListener(s.machine, &s.replacement, &s.previous, &e));
    };
    cvpl_local_test::BeforeNextHotplugListenerRemoval([&scene] { scene.arrive(); });
    CvHotplugEventManager_AddListener(&scene.changer);

    CvResourceDescriptor descriptor{};
    std::strcpy(descriptor.info.name, "meeting");
    CvUID added = CV_UID_NONE;
    ASSERT_EQ(1, CvResourceManager_Register(&descriptor, &added, &error)) << error.message;
    std::future<int> changed = scene.changed.get_future();
    if (changed.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // Both threads are stuck for good; nothing can be torn down.
        std::fprintf(stderr, "Listener change and disconnect wait for each other\n");
        std::_Exit(EXIT_FAILURE);
    }
    EXPECT_EQ(1, changed.get());
    scene.disconnector.join();
    cvpl_local_test::BeforeNextHotplugListenerRemoval(nullptr);
    CvHotplugEventManager_RemoveListener(&scene.changer);
    EXPECT_EQ(1, scene.disconnected);
    EXPECT_EQ(&scene.attached, scene.previous);
    int isConnected = -1;
    ASSERT_EQ(1, CvMachine_IsConnected(scene.machine, &isConnected, &error));
    EXPECT_EQ(0, isConnected);
}

// The relay through which the event reaches the listener outlives the machine.
TEST_F(LocalBridgeTest, ListenerMayDestroyItsMachineFromInsideAnEvent)
{
    struct Destroyer {
        CvUID machine = CV_UID_NONE;
        int destroyed = -1;
        CvHotplugListener listener{};
    } destroyer;
    destroyer.listener.userData = &destroyer;
    destroyer.listener.resourceAdded = [](void* self, CvUID, const CvResourceInfo*) {
        auto& d = *static_cast<Destroyer*>(self);
        CvError e;
        if (d.destroyed == -1) d.destroyed = CvMachineManager_DestroyMachine(d.machine, &e);
    };
    destroyer.machine = connected();
    ASSERT_EQ(1, CvMachine_SetEventListener(destroyer.machine, &destroyer.listener, nullptr, &error));
    ResourceComesAndGoes("last event");
    EXPECT_EQ(1, destroyer.destroyed);
    EXPECT_TRUE(machines().empty());
}

TEST_F(LocalBridgeTest, UnloadingDestroysTheMachinesInCreationOrderBeforeTheBridgeGoes)
{
    const CvUID first = connected();
    const CvUID second = connected();
    ASSERT_EQ((std::vector<CvUID>{first, second}), machines());
    const std::vector<CvUID> bridgesBefore = bridges();

    // An outstanding command holds the first machine's destruction.
    CvCommand command{};
    Submitter submitter;
    ASSERT_EQ(1, CvResourceServiceProxy_SubmitCommand(first, resource, async, &command, &submitter.completion,
                                                      &error));
    hooks.waitHeld(1);
    auto unloaded = std::async(std::launch::async, [this] {
        CvError e;
        return CvPluginManager_Unload(plugin, &e);
    });
    Polls().waitForNext();
    Polls().waitForNext();
    // Waiting on the first machine: the second and the bridge are untouched.
    CvMachineInfo info;
    EXPECT_EQ(1, CvMachine_GetInfo(second, &info, &error));
    EXPECT_EQ(bridgesBefore, bridges());

    hooks.completeHeld();
    submitter.outcome.get_future().wait();
    ASSERT_EQ(1, unloaded.get());
    EXPECT_TRUE(machines().empty());
    EXPECT_TRUE(bridges().empty());
}

TEST_F(LocalBridgeTest, MachineListHoldsAtMost4096Machines)
{
    std::vector<CvUID> created;
    for (int i = 0; i < 4096; ++i) created.push_back(create());
    CvUID refused = 0;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-local://one-too-many", &refused, &error));
    EXPECT_EQ(CV_UID_NONE, refused);
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Machine list full, unable to fill out new machine descriptor", error.message);
    EXPECT_EQ(4096u, machines().size());

    // A destroyed machine makes room again.
    ASSERT_EQ(1, CvMachineManager_DestroyMachine(created[17], &error));
    EXPECT_NE(CV_UID_NONE, create());
}

}  // namespace
