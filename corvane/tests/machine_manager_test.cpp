// Bridges and machines: finding the bridge for a URL, creating and destroying
// machines, forwarding calls to the bridge's slots, and the pending counts of
// submitted commands.
#include <corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "fake_bridge.h"
#include "log_capture.h"
#include "poll_watch.h"

namespace {

using corvane_test::FakeBridge;
using corvane_test::FakeMachine;
using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::Polls;

std::string Id(CvUID uid) { return std::to_string(static_cast<int>(uid)); }

class MachineManagerTest : public ::testing::Test {
protected:
    void SetUp() override { CvInitialize(); }
    void TearDown() override
    {
        CvError down;
        EXPECT_EQ(1, CvUninitialize(&down)) << down.message;
    }

    // Creates a machine that must succeed.
    CvUID create(const char* url)
    {
        CvUID uid = CV_UID_NONE;
        CvError failure;
        EXPECT_EQ(1, CvMachineManager_CreateMachine(url, &uid, &failure)) << failure.message;
        return uid;
    }
    std::vector<CvUID> machines()
    {
        CvUIDList list;
        CvError failure;
        EXPECT_EQ(1, CvMachineManager_GetMachineList(&list, &failure));
        return std::vector<CvUID>(list.uids, list.uids + list.count);
    }

    FakeBridge local{"cv-local", "Local Fake"};
    CvError error{};
};

TEST_F(MachineManagerTest, RegisteringAndUnregisteringBridgesIsLoggedAndListed)
{
    LogCapture log;
    const CvUID a = local.add();
    FakeBridge remote("cv-tcpip");
    const CvUID b = remote.add();
    ASSERT_NE(CV_UID_NONE, a);

    CvUIDList list;
    ASSERT_EQ(1, CvBridgeManager_GetBridgeList(&list, &error));
    EXPECT_EQ((std::vector<CvUID>{a, b}), std::vector<CvUID>(list.uids, list.uids + list.count));

    CvBridgeInfo info;
    ASSERT_EQ(1, CvBridge_GetInfo(b, &info, &error));
    EXPECT_EQ(0, std::memcmp(&info, &remote.descriptor().info, sizeof info));

    ASSERT_EQ(1, CvBridgeManager_Unregister(b, &error));
    EXPECT_EQ(0, CvBridge_GetInfo(b, &info, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_EQ("Bridge with UID " + Id(b) + " was not found", error.message);
    EXPECT_EQ(0, info.name[0]);

    EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                               {CV_LOG_INFO, "Bridge added - BridgeID=" + Id(a) + " BridgeProtocol='cv-local'"},
                               {CV_LOG_INFO, "Bridge added - BridgeID=" + Id(b) + " BridgeProtocol='cv-tcpip'"},
                               {CV_LOG_INFO, "Bridge removed - BridgeID=" + Id(b) + " BridgeProtocol='cv-tcpip'"},
                           }));
}

TEST_F(MachineManagerTest, ProtocolMatchIgnoresCaseAndTheFirstBridgeWins)
{
    local.add();
    FakeBridge second("CV-Local");
    second.add();

    const CvUID uid = create("CV-LOCAL://x");
    ASSERT_NE(CV_UID_NONE, uid);
    ASSERT_EQ(1u, local.machineCount());
    EXPECT_EQ(0u, second.machineCount());
    EXPECT_EQ(uid, local.machine(0).uid);
    EXPECT_EQ("CV-LOCAL://x", local.machine(0).url);
    EXPECT_EQ((std::vector<CvUID>{uid}), machines());

    // Once the first is gone the second serves the protocol.
    ASSERT_EQ(1, CvBridgeManager_Unregister(local.uid, &error));
    const CvUID served = create("cv-local://y");
    EXPECT_EQ(1u, second.machineCount());
    // Nothing of `second` may stay behind once it goes out of scope.
    EXPECT_EQ(1, CvMachineManager_DestroyMachine(served, &error));
    EXPECT_EQ(1, CvBridgeManager_Unregister(second.uid, &error));
}

TEST_F(MachineManagerTest, CreationFailuresLeaveNoMachine)
{
    local.add();
    CvUID uid = 7;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("no-colon-here", &uid, &error));
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Unable to extract protocol field from machine URL: 'no-colon-here'", error.message);

    uid = 7;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-elsewhere://host", &uid, &error));
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Unable to find bridge that can handle the protocol 'cv-elsewhere'", error.message);

    // A prefix of a registered protocol is another protocol.
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-loc://host", &uid, &error));

    local.beforeInitialize = [](CvUID, CvError* e) { return CvSetThreadError(e, CV_ERROR_NOT_SUPPORTED, "refused"); };
    uid = 7;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-local://host", &uid, &error));
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error.code);
    EXPECT_STREQ("refused", error.message);
    EXPECT_TRUE(machines().empty());
}

TEST_F(MachineManagerTest, LongUrlIsKeptAsItsFirst255Characters)
{
    local.add();
    const std::string url = "cv-local://" + std::string(289, 'h');
    ASSERT_EQ(300u, url.size());
    const CvUID uid = create(url.c_str());

    CvMachineInfo info;
    std::memset(&info, 'x', sizeof info);
    ASSERT_EQ(1, CvMachine_GetInfo(uid, &info, &error));
    EXPECT_EQ(url.substr(0, 255), info.url);
    EXPECT_EQ(url.substr(0, 255), local.machine(0).url);

    ASSERT_EQ(1, CvMachineManager_DestroyMachine(uid, &error));
    std::memset(&info, 'x', sizeof info);
    EXPECT_EQ(0, CvMachine_GetInfo(uid, &info, &error));
    EXPECT_EQ("Machine with UID " + Id(uid) + " was not found", error.message);
    EXPECT_TRUE(std::all_of(info.url, info.url + sizeof info.url, [](char c) { return c == 0; }));
}

TEST_F(MachineManagerTest, EveryCallReachesItsOwnSlotWithItsArguments)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    StringMap* settings = StringMap_Create();
    CvHotplugListener events{};
    CvHotplugListener* previousEvents = nullptr;
    CvLogListener logs{};
    CvLogListener* previousLogs = nullptr;
    CvUIDList list;
    CvServiceInfo serviceInfo;
    CvResourceInfo resourceInfo;
    CvCommand command{};
    command.function = 9;
    CvCommandCompletion completion{};
    int connected = 0;

    EXPECT_EQ(1, CvMachine_Connect(uid, settings, &error));
    EXPECT_EQ(1, CvMachine_Disconnect(uid, &error));
    EXPECT_EQ(1, CvMachine_IsConnected(uid, &connected, &error));
    EXPECT_EQ(1, CvMachine_SetEventListener(uid, &events, &previousEvents, &error));
    EXPECT_EQ(1, CvMachine_SetLoggingListener(uid, &logs, &previousLogs, &error));
    EXPECT_EQ(1, CvMachine_GetResourceList(uid, &list, &error));
    EXPECT_EQ(1, CvMachine_GetServiceList(uid, &list, &error));
    EXPECT_EQ(1, CvMachineServiceProxy_GetInfo(uid, 11, &serviceInfo, &error));
    EXPECT_EQ(1, CvMachineServiceProxy_ExecuteCommand(uid, 12, &command, &error));
    EXPECT_EQ(1, CvMachineServiceProxy_SubmitCommand(uid, 13, &command, &completion, &error));
    EXPECT_EQ(1, CvMachineServiceProxy_AbortCommand(uid, 14, 77, &error));
    EXPECT_EQ(1, CvResourceProxy_GetInfo(uid, 21, &resourceInfo, &error));
    EXPECT_EQ(1, CvResourceProxy_GetServiceList(uid, 22, &list, &error));
    EXPECT_EQ(1, CvResourceServiceProxy_GetInfo(uid, 31, 32, &serviceInfo, &error));
    EXPECT_EQ(1, CvResourceServiceProxy_ExecuteCommand(uid, 33, 34, &command, &error));
    EXPECT_EQ(1, CvResourceServiceProxy_SubmitCommand(uid, 35, 36, &command, &completion, &error));
    EXPECT_EQ(1, CvResourceServiceProxy_AbortCommand(uid, 37, 38, 78, &error));
    StringMap_Destroy(settings);

    EXPECT_EQ(1, connected);
    EXPECT_EQ(&events, previousEvents);
    EXPECT_EQ(&logs, previousLogs);
    EXPECT_EQ(local.machine(0).calls(),
              (std::vector<std::string>{"connect map", "disconnect", "isConnected", "setEventListener",
                                        "setLoggingListener", "getResourceList", "getMachineServiceList",
                                        "machineServiceGetInfo 11", "machineServiceExecute 12 9",
                                        "machineServiceSubmit 13", "machineServiceAbort 14 77", "resourceGetInfo 21",
                                        "resourceGetServiceList 22", "resourceServiceGetInfo 31 32",
                                        "resourceServiceExecute 33 34 9", "resourceServiceSubmit 35 36",
                                        "resourceServiceAbort 37 38 78"}));
    // Two accepted submits are outstanding until the bridge reports them.
    CvMachine_NotifyCommandCompleted(uid);
    CvMachine_NotifyCommandCompleted(uid);
}

TEST_F(MachineManagerTest, CallsOnUnknownMachinesFailWithCodeFive)
{
    CvCommand command{};
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(4242, 1, 2, &command, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_STREQ("Machine with UID 4242 was not found", error.message);
    EXPECT_EQ(0, CvMachineManager_DestroyMachine(4242, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
}

TEST_F(MachineManagerTest, RefusedSubmitLeavesPendingCountsUnchanged)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    local.machine(0).submit = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "busy device"); };
    CvCommand command{};
    CvCommandCompletion completion{};
    EXPECT_EQ(0, CvResourceServiceProxy_SubmitCommand(uid, 1, 2, &command, &completion, &error));
    EXPECT_STREQ("busy device", error.message);
    EXPECT_EQ(0, CvMachineServiceProxy_SubmitCommand(uid, 1, &command, &completion, &error));

    // Nothing outstanding: destruction does not wait at all.
    const int polls = Polls().count();
    ASSERT_EQ(1, CvMachineManager_DestroyMachine(uid, &error));
    EXPECT_EQ(polls, Polls().count());
    EXPECT_EQ(1, local.machine(0).disposed());
}

TEST_F(MachineManagerTest, AcceptedSubmitHoldsDestructionUntilCompletionIsNotified)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    CvCommand command{};
    CvCommandCompletion completion{};
    ASSERT_EQ(1, CvResourceServiceProxy_SubmitCommand(uid, 1, 2, &command, &completion, &error));

    auto destroyed = std::async(std::launch::async, [uid] {
        CvError e;
        return CvMachineManager_DestroyMachine(uid, &e);
    });
    Polls().waitForNext();  // the destruction is waiting for the command
    Polls().waitForNext();
    EXPECT_EQ(0, local.machine(0).disposed());
    // Calls still reach the machine meanwhile.
    CvMachineInfo info;
    EXPECT_EQ(1, CvMachine_GetInfo(uid, &info, &error));

    CvMachine_NotifyCommandCompleted(uid);
    EXPECT_EQ(1, destroyed.get());
    EXPECT_EQ(1, local.machine(0).disposed());
}

TEST_F(MachineManagerTest, CompletionNoticesThatFindNoMachineAreLogged)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    LogCapture log;
    CvMachine_NotifyCommandCompleted(4242);

    // While the machine is being disposed.
    std::latch disposing(1);
    std::latch release(1);
    local.machine(0).dispose = [&](CvError* e) {
        disposing.count_down();
        release.wait();
        return CvSetNoThreadError(e);
    };
    std::thread destroyer([uid] {
        CvError e;
        CvMachineManager_DestroyMachine(uid, &e);
    });
    disposing.wait();
    CvMachine_NotifyCommandCompleted(uid);
    CvCommand command{};
    EXPECT_EQ(0, CvResourceServiceProxy_ExecuteCommand(uid, 1, 2, &command, &error));
    EXPECT_EQ("Machine with UID " + Id(uid) + " is being disposed", error.message);
    release.count_down();
    destroyer.join();

    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  {CV_LOG_ERROR, "Machine with UID 4242 was not found when doing command complete notify"},
                  {CV_LOG_ERROR, "Machine with UID " + Id(uid) + " is being disposed when doing command complete notify"},
              }));

    CvError down;
    ASSERT_EQ(1, CvMachineManager_Uninitialize(&down));
    CvMachine_NotifyCommandCompleted(uid);
    CvMachineManager_Initialize();
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_ERROR, "Machine manager is uninitialized when doing command complete notify"}));
}

TEST_F(MachineManagerTest, NoticeWithoutAnOutstandingCommandIsLoggedAndIgnored)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    CvCommand command{};
    CvCommandCompletion completion{};
    ASSERT_EQ(1, CvMachineServiceProxy_SubmitCommand(uid, 1, &command, &completion, &error));
    LogCapture log;
    CvMachine_NotifyCommandCompleted(uid);
    CvMachine_NotifyCommandCompleted(uid);  // one notice too many
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{CV_LOG_ERROR, "Machine with UID " + Id(uid) +
                                                                    " has no submitted command outstanding when doing "
                                                                    "command complete notify"}}));

    // The counts stayed at 0: destruction and shut-down do not wait at all.
    const int polls = Polls().count();
    ASSERT_EQ(1, CvMachineManager_DestroyMachine(uid, &error));
    create("cv-local://other");
    ASSERT_EQ(1, CvMachineManager_Uninitialize(&error));
    CvMachineManager_Initialize();
    EXPECT_EQ(polls, Polls().count());
}

TEST_F(MachineManagerTest, FailedDisposeKeepsTheMachineUsable)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    local.machine(0).dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "still connected"); };
    EXPECT_EQ(0, CvMachineManager_DestroyMachine(uid, &error));
    EXPECT_STREQ("still connected", error.message);
    EXPECT_EQ(1, CvMachine_Disconnect(uid, &error));
    EXPECT_EQ((std::vector<CvUID>{uid}), machines());

    // Shut-down logs the failure and removes the machine all the same.
    LogCapture log;
    ASSERT_EQ(1, CvMachineManager_Uninitialize(&error));
    CvMachineManager_Initialize();
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{{CV_LOG_ERROR, "Error while disposing of machine (" + Id(uid) +
                                                       ":'cv-local://host') while unitializing the machine "
                                                       "manager: still connected"}}));
    EXPECT_TRUE(machines().empty());
}

TEST_F(MachineManagerTest, ShutDownWaitsForOutstandingCommands)
{
    local.add();
    const CvUID uid = create("cv-local://host");
    CvCommand command{};
    CvCommandCompletion completion{};
    ASSERT_EQ(1, CvMachineServiceProxy_SubmitCommand(uid, 1, &command, &completion, &error));
    auto down = std::async(std::launch::async, [] {
        CvError e;
        return CvMachineManager_Uninitialize(&e);
    });
    Polls().waitForNext();
    Polls().waitForNext();
    EXPECT_EQ(0, local.machine(0).disposed());
    CvMachine_NotifyCommandCompleted(uid);
    EXPECT_EQ(1, down.get());
    EXPECT_EQ(1, local.machine(0).disposed());
    CvMachineManager_Initialize();
}

TEST_F(MachineManagerTest, UnregisteringABridgeWaitsForItsInitialiser)
{
    local.add();
    std::latch inside(1);
    std::latch release(1);
    local.beforeInitialize = [&](CvUID, CvError* e) {
        inside.count_down();
        release.wait();
        return CvSetNoThreadError(e);
    };
    auto created = std::async(std::launch::async, [] {
        CvUID uid = CV_UID_NONE;
        CvError e;
        CvMachineManager_CreateMachine("cv-local://slow", &uid, &e);
        return uid;
    });
    inside.wait();

    std::latch disposing(1);
    std::latch finishDispose(1);
    local.dispose = [&](CvError* e) {
        disposing.count_down();
        finishDispose.wait();
        return CvSetNoThreadError(e);
    };
    auto unregistered = std::async(std::launch::async, [&] {
        CvError e;
        return CvBridgeManager_Unregister(local.uid, &e);
    });
    Polls().waitForNext();  // waiting for the initialiser to return
    Polls().waitForNext();
    release.count_down();
    const CvUID machine = created.get();
    EXPECT_NE(CV_UID_NONE, machine);

    // While the bridge is being disposed no new machine reaches it.
    disposing.wait();
    CvUID refused = 0;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-local://late", &refused, &error));
    EXPECT_STREQ("Unable to find bridge that can handle the protocol 'cv-local'", error.message);
    finishDispose.count_down();
    EXPECT_EQ(1, unregistered.get());
}

TEST_F(MachineManagerTest, FailedBridgeDisposeIsLoggedAtShutDown)
{
    local.add();
    local.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "machines left"); };
    EXPECT_EQ(0, CvBridgeManager_Unregister(local.uid, &error));
    EXPECT_STREQ("machines left", error.message);

    LogCapture log;
    ASSERT_EQ(1, CvBridgeManager_Uninitialize(&error));
    CvBridgeManager_Initialize();
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  {CV_LOG_ERROR, "Error while disposing of bridge (" + Id(local.uid) +
                                     ":'Local Fake') while unitializing the bridge manager: machines left"},
                  {CV_LOG_INFO, "Bridge removed - BridgeID=" + Id(local.uid) + " BridgeProtocol='cv-local'"},
              }));
}

TEST(MachineManagerDown, CallsFailAsUninitialized)
{
    CvError error;
    CvUID uid = 5;
    EXPECT_EQ(0, CvMachineManager_CreateMachine("cv-local://x", &uid, &error));
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_STREQ("Machine manager is uninitialized", error.message);
    EXPECT_EQ(0, CvMachine_Connect(0, nullptr, &error));
    EXPECT_STREQ("Machine manager is uninitialized", error.message);
    FakeBridge bridge("cv-local");
    EXPECT_EQ(CV_UID_NONE, bridge.add());
    CvMachineDescriptor descriptor{};
    std::strcpy(descriptor.url, "cv-local://x");
    EXPECT_EQ(0, CvBridgeManager_InitializeMachineDescriptor(1, &descriptor, &error));
    EXPECT_STREQ("Bridge manager is uninitialized", error.message);
}

}  // namespace
