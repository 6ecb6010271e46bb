// The remote machine bridge against the real remote access server in the same
// process, started on an ephemeral port, serving the test services plug-in's
// resources: calls, submits completed by signal, events, and the ten tickets.
#include <corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "server.h"
#include "sleep_watch.h"
#include "submitter.h"
#include "test_services.h"

namespace {

using corvane_test::Submitter;

// Listeners that hand over the first event they are waiting for.
struct EventListeners {
    std::mutex mutex;
    std::promise<std::string> resourceAdded;
    bool resourceSeen = false;
    std::promise<int> logged;
    bool logSeen = false;
    CvHotplugListener events{};
    CvLogListener logs{};

    EventListeners()
    {
        events.userData = this;
        events.resourceAdded = [](void* self, CvUID, const CvResourceInfo* info) {
            auto* me = static_cast<EventListeners*>(self);
            std::lock_guard lock(me->mutex);
            if (std::strcmp(info->name, "drive:hotplugged") != 0 || me->resourceSeen) return;
            me->resourceSeen = true;
            me->resourceAdded.set_value(info->name);
        };
        logs.userData = this;
        logs.log = [](void* self, int level, const char* message) {
            auto* me = static_cast<EventListeners*>(self);
            std::lock_guard lock(me->mutex);
            if (std::strcmp(message, "remote hello") != 0 || me->logSeen) return;
            me->logSeen = true;
            me->logged.set_value(level);
        };
    }
};

class BridgeRemoteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("CORVANE_PLUGIN_PATH", TestServicesHooks::Directory().c_str(), 1);
        CvInitialize();
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "Resources", "drive:0");
        StringMap_SetValue(settings, "Services", "test/echo, test/async, test/gate");
        StringMap_SetValue(settings, "MachineServices", "test/async");
        StringMap_SetValue(settings, "AsyncCompletion", "held");
        CvUID services = CV_UID_NONE;
        const int loaded = CvPluginManager_Load(TEST_SERVICES_PLUGIN_NAME, settings, &services, &error);
        StringMap_Destroy(settings);
        ASSERT_EQ(1, loaded) << error.message;
        ASSERT_EQ(1, CvResourceManager_LookupResource("drive:0", &resource, &error));
        ASSERT_EQ(1, CvResource_LookupResourceService(resource, "test/echo", &echo, &error));
        ASSERT_EQ(1, CvResource_LookupResourceService(resource, "test/async", &async, &error));
        ASSERT_EQ(1, CvResource_LookupResourceService(resource, "test/gate", &gate, &error));
        ASSERT_EQ(1, CvMachineServiceManager_LookupMachineService("test/async", &machineService, &error));

        ASSERT_EQ(1, cvpl_tcpip::RegisterBridge(&error)) << error.message;
        ASSERT_EQ(1, cvpl_tcpip::RegisterServer(&error)) << error.message;
        CvUID server = CV_UID_NONE;
        ASSERT_EQ(1, CvServerManager_LookupServer("cv-tcpip", &server, &error)) << error.message;
        settings = StringMap_Create();
        StringMap_SetValue(settings, "ServerPort", "0");
        StringMap_SetValue(settings, "BroadcastPort", "0");
        const int started = CvServer_Start(server, settings, &error);
        StringMap_Destroy(settings);
        ASSERT_EQ(1, started) << error.message;

        const std::string url = "cv-tcpip://127.0.0.1:" + std::to_string(cvpl_tcpip::ServerListeningPort());
        ASSERT_EQ(1, CvMachineManager_CreateMachine(url.c_str(), &machine, &error)) << error.message;
        ASSERT_EQ(1, CvMachine_Connect(machine, nullptr, &error)) << error.message;
    }
    void TearDown() override
    {
        hooks.openGate();
        CvError down;
        EXPECT_EQ(1, cvpl_tcpip::UnregisterBridge(&down)) << down.message;
        EXPECT_EQ(1, cvpl_tcpip::UnregisterServer(&down)) << down.message;
        EXPECT_EQ(1, CvUninitialize(&down)) << down.message;
    }

    // A round trip: the server has handled everything sent before it.
    void sync()
    {
        auto list = std::make_unique<CvUIDList>();
        ASSERT_EQ(1, CvMachine_GetResourceList(machine, list.get(), &error)) << error.message;
    }

    TestServicesHooks hooks;
    CvUID machine = CV_UID_NONE;
    CvUID resource = CV_UID_NONE;
    CvUID echo = CV_UID_NONE;
    CvUID async = CV_UID_NONE;
    CvUID gate = CV_UID_NONE;
    CvUID machineService = CV_UID_NONE;
    CvError error{};
};

TEST_F(BridgeRemoteTest, RemoteCallsSeeTheServersResources)
{
    auto list = std::make_unique<CvUIDList>();
    ASSERT_EQ(1, CvMachine_GetResourceList(machine, list.get(), &error)) << error.message;
    EXPECT_EQ((std::vector<CvUID>{resource}), std::vector<CvUID>(list->uids, list->uids + list->count));
    CvResourceInfo info{};
    ASSERT_EQ(1, CvResourceProxy_GetInfo(machine, resource, &info, &error)) << error.message;
    EXPECT_STREQ("drive:0", info.name);
    ASSERT_EQ(1, CvResourceProxy_GetServiceList(machine, resource, list.get(), &error));
    EXPECT_EQ((std::vector<CvUID>{echo, async, gate}), std::vector<CvUID>(list->uids, list->uids + list->count));
    CvServiceInfo service{};
    ASSERT_EQ(1, CvResourceServiceProxy_GetInfo(machine, resource, gate, &service, &error));
    EXPECT_STREQ("test/gate", service.type);

    // The server's failure reaches the caller unchanged, and zeroes the record.
    EXPECT_EQ(0, CvResourceProxy_GetInfo(machine, 0xBEEF, &info, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_STREQ("", info.name);
}

TEST_F(BridgeRemoteTest, RemoteExecuteReturnsResultByteAndBuffers)
{
    char parameters[] = "remote echo";
    char data[sizeof parameters] = {};
    CvCommand command{};
    command.function = TEST_FUNCTION_ECHO;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = parameters;
    command.bufferLengths[0] = sizeof parameters;
    command.buffers[1] = data;
    command.bufferLengths[1] = sizeof data;
    ASSERT_EQ(1, CvResourceServiceProxy_ExecuteCommand(machine, resource, echo, &command, &error)) << error.message;
    EXPECT_EQ(TEST_ECHO_RESULT, command.result);
    EXPECT_STREQ("remote echo", data);
    EXPECT_EQ(parameters, command.buffers[0]);  // nothing but the result and the contents change
    EXPECT_EQ(sizeof data, command.bufferLengths[1]);

    command.function = TEST_FUNCTION_FAIL;
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(machine, resource, echo, &command, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Test failure requested", error.message);
}

// Whichever caller reads an answer off the socket, its data lands in the
// buffers of the caller it belongs to.
TEST_F(BridgeRemoteTest, ConcurrentExecutesEachGetTheirOwnData)
{
    constexpr int kCallers = 4;
    constexpr int kCalls = 25;
    std::vector<std::future<int>> callers;
    for (int c = 0; c < kCallers; ++c) {
        callers.push_back(std::async(std::launch::async, [this, c] {
            std::vector<char> sent(64 * 1024 + c, static_cast<char>('a' + c));
            std::vector<char> back(sent.size());
            int good = 0;
            for (int i = 0; i < kCalls; ++i) {
                std::fill(back.begin(), back.end(), '\0');
                CvCommand command{};
                command.function = TEST_FUNCTION_ECHO;
                command.tag = CV_COMMAND_TAG_NONE;
                command.buffers[0] = sent.data();
                command.bufferLengths[0] = static_cast<uint32_t>(sent.size());
                command.buffers[1] = back.data();
                command.bufferLengths[1] = static_cast<uint32_t>(back.size());
                CvError failure;
                if (CvResourceServiceProxy_ExecuteCommand(machine, resource, echo, &command, &failure) == 1 &&
                    back == sent)
                    ++good;
            }
            return good;
        }));
    }
    for (auto& caller : callers) EXPECT_EQ(kCalls, caller.get());
}

TEST_F(BridgeRemoteTest, RemoteSubmitIsAnsweredAtOnceAndCompletedBySignal)
{
    char parameters[] = "later";
    char data[sizeof parameters] = {};
    CvCommand command{};
    command.function = TEST_FUNCTION_ECHO;
    command.tag = 11;
    command.buffers[0] = parameters;
    command.bufferLengths[0] = sizeof parameters;
    command.buffers[1] = data;
    command.bufferLengths[1] = sizeof data;
    Submitter submitter;
    ASSERT_EQ(1,
              CvResourceServiceProxy_SubmitCommand(machine, resource, async, &command, &submitter.completion, &error))
        << error.message;
    hooks.waitHeld(1);  // accepted and held by the service on the server side

    CvCommand again = command;
    Submitter duplicate;
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(machine, resource, async, &again, &duplicate.completion, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Command tag is a duplicate: 11", error.message);

    std::future<CvError> outcome = submitter.outcome.get_future();
    hooks.completeHeld();
    const CvError completed = outcome.get();
    EXPECT_EQ(CV_ERROR_NONE, completed.code) << completed.message;
    EXPECT_EQ(TEST_ECHO_RESULT, command.result);
    EXPECT_STREQ("later", data);

    // Once completed, the tag is free again; an abort travels too.
    Submitter third;
    ASSERT_EQ(1, CvResourceServiceProxy_SubmitCommand(machine, resource, async, &again, &third.completion, &error))
        << error.message;
    hooks.waitHeld(1);
    ASSERT_EQ(1, CvResourceServiceProxy_AbortCommand(machine, resource, async, 11, &error)) << error.message;
    const CvError abortedOutcome = third.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_FAILED, abortedOutcome.code);
    EXPECT_STREQ("Command with tag 11 was aborted", abortedOutcome.message);
}

TEST_F(BridgeRemoteTest, MachineServicesAreReachedRemotelyToo)
{
    auto list = std::make_unique<CvUIDList>();
    ASSERT_EQ(1, CvMachine_GetServiceList(machine, list.get(), &error)) << error.message;
    EXPECT_EQ((std::vector<CvUID>{machineService}), std::vector<CvUID>(list->uids, list->uids + list->count));
    CvServiceInfo info{};
    ASSERT_EQ(1, CvMachineServiceProxy_GetInfo(machine, machineService, &info, &error)) << error.message;
    EXPECT_STREQ("test/async", info.type);

    char parameters[] = "machine";
    char data[sizeof parameters] = {};
    CvCommand command{};
    command.function = TEST_FUNCTION_ECHO;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = parameters;
    command.bufferLengths[0] = sizeof parameters;
    command.buffers[1] = data;
    command.bufferLengths[1] = sizeof data;
    ASSERT_EQ(1, CvMachineServiceProxy_ExecuteCommand(machine, machineService, &command, &error)) << error.message;
    EXPECT_EQ(TEST_ECHO_RESULT, command.result);
    EXPECT_STREQ("machine", data);

    // Completed by signal 30.
    std::memset(data, 0, sizeof data);
    command.result = 0;
    command.tag = 4;
    Submitter submitter;
    ASSERT_EQ(1, CvMachineServiceProxy_SubmitCommand(machine, machineService, &command, &submitter.completion, &error))
        << error.message;
    hooks.waitHeld(1);
    hooks.completeHeld();
    const CvError completed = submitter.outcome.get_future().get();
    EXPECT_EQ(CV_ERROR_NONE, completed.code) << completed.message;
    EXPECT_EQ(TEST_ECHO_RESULT, command.result);
    EXPECT_STREQ("machine", data);
}

TEST_F(BridgeRemoteTest, EleventhConcurrentCallWaitsForATicket)
{
    constexpr int kCallers = 11;
    std::mutex mutex;
    std::vector<std::thread::id> callers;
    std::latch registered(kCallers);
    std::vector<std::future<int>> calls;
    for (int i = 0; i < kCallers; ++i) {
        calls.push_back(std::async(std::launch::async, [&] {
            {
                std::lock_guard lock(mutex);
                callers.push_back(std::this_thread::get_id());
            }
            registered.count_down();
            CvCommand command{};
            command.function = TEST_FUNCTION_NOTHING;
            command.tag = CV_COMMAND_TAG_NONE;
            CvError failure;
            return CvResourceServiceProxy_ExecuteCommand(machine, resource, gate, &command, &failure);
        }));
    }
    registered.wait();
    // The server holds the first call at the gate and reads no further, so ten
    // calls hold the ten tickets and the eleventh caller polls for one.
    hooks.waitGateEntered(1);
    // Returns only once one of the callers polls: nothing else makes them sleep.
    tcpip_bridge_test::WaitForSleepOnAny(callers);

    hooks.openGate();
    for (auto& call : calls) EXPECT_EQ(1, call.get());
}

TEST_F(BridgeRemoteTest, HotplugAndLogEventsArriveThroughTheListeners)
{
    EventListeners listeners;
    ASSERT_EQ(1, CvMachine_SetEventListener(machine, &listeners.events, nullptr, &error)) << error.message;
    ASSERT_EQ(1, CvMachine_SetLoggingListener(machine, &listeners.logs, nullptr, &error)) << error.message;
    sync();

    CvResourceDescriptor descriptor{};
    std::strcpy(descriptor.info.name, "drive:hotplugged");
    CvUID added = CV_UID_NONE;
    ASSERT_EQ(1, CvResourceManager_Register(&descriptor, &added, &error)) << error.message;
    EXPECT_EQ("drive:hotplugged", listeners.resourceAdded.get_future().get());
    CvLog(CV_LOG_INFO, "remote hello");
    EXPECT_EQ(CV_LOG_INFO, listeners.logged.get_future().get());

    ASSERT_EQ(1, CvMachine_SetEventListener(machine, nullptr, nullptr, &error)) << error.message;
    ASSERT_EQ(1, CvMachine_SetLoggingListener(machine, nullptr, nullptr, &error)) << error.message;
    ASSERT_EQ(1, CvResourceManager_Unregister(added, &error)) << error.message;
}

}  // namespace
