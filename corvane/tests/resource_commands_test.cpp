// The command path of resource services (execute, submit with its completion
// notice, abort) and how it holds back the removal of services and resources.
#include <corvane.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "poll_watch.h"
#include "resource_fixture.h"
#include "service_doubles.h"
#include "work_items.h"

namespace {

using corvane_test::EmptyCommand;
using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::Polls;
using corvane_test::ServiceDouble;

class ResourceCommandsTest : public corvane_test::ResourceFixture {
protected:
    void SetUp() override
    {
        ResourceFixture::SetUp();
        CvError error;
        disk = resource("disk:0").add(&error);
        ASSERT_NE(disk, CV_UID_NONE) << error.message;
        ASSERT_EQ(CvResource_RegisterService(disk, ata.descriptor(), &ataUid, &error), 1) << error.message;
    }

    int execute(CvCommand& command, CvError& error)
    {
        return CvResourceService_ExecuteCommand(disk, ataUid, 99, &command, &error);
    }

    // Starts a command on the ata service that holds until `release`, and
    // returns once the service runs it; it journals "execute returned".
    std::thread StartHeldCommand(std::latch& release)
    {
        auto entered = std::make_shared<std::latch>(1);
        ata.execute = [entered, &release, this](CvCommand*, CvError* error) {
            entered->count_down();
            release.wait();
            journal.add("execute returned");
            return CvSetNoThreadError(error);
        };
        std::thread client([this] {
            CvCommand command = EmptyCommand();
            CvError error;
            EXPECT_EQ(execute(command, error), 1);
        });
        entered->wait();
        return client;
    }

    ServiceDouble& ata = service("ata/device");
    CvUID disk = CV_UID_NONE;
    CvUID ataUid = CV_UID_NONE;
};

TEST_F(ResourceCommandsTest, NullBufferWithLengthIsRefusedBeforeTheService)
{
    int reached = 0;
    ata.execute = [&](CvCommand*, CvError* error) { return ++reached, CvSetNoThreadError(error); };
    char block[16];
    CvCommand command = EmptyCommand();
    command.buffers[0] = block;
    command.bufferLengths[0] = sizeof block;
    command.bufferLengths[2] = 512;
    command.bufferLengths[3] = 7;  // also bad, but buffer 2 comes first
    CvError error;
    EXPECT_EQ(execute(command, error), 0);
    EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
    EXPECT_STREQ(error.message, "Data buffer 2 is null but has a length of 512 bytes");

    // Checked before anything is looked up.
    EXPECT_EQ(CvResourceService_ExecuteCommand(424242, 1, 0, &command, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
    CvCommandCompletion completion{};
    EXPECT_EQ(CvResourceService_SubmitCommand(disk, ataUid, 0, &command, &completion, &error), 0);
    EXPECT_STREQ(error.message, "Data buffer 2 is null but has a length of 512 bytes");
    EXPECT_EQ(reached, 0);
}

TEST_F(ResourceCommandsTest, AllLengthsZeroReachTheServiceWithItsVerdict)
{
    CvCommand* seen = nullptr;
    ata.execute = [&](CvCommand* command, CvError* error) {
        seen = command;
        EXPECT_EQ(error->code, 0);  // cleared before the call
        command->result = 0x42;
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Unsupported function code: %d", command->function);
    };
    CvCommand command = EmptyCommand(0xEE);
    CvError error;
    CvSetThreadError(&error, CV_ERROR_INTERNAL, "left over");
    EXPECT_EQ(execute(command, error), 0);
    EXPECT_EQ(seen, &command);
    EXPECT_EQ(command.result, 0x42);
    EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
    EXPECT_STREQ(error.message, "Unsupported function code: 238");
}

TEST_F(ResourceCommandsTest, RefusedSubmitChangesNothingAndUnregisteringNeedNotWait)
{
    CvCommand command = EmptyCommand();
    command.tag = 5;
    CvCommandCompletion completion;
    std::memset(&completion, 0x5C, sizeof completion);
    CvCommandCompletion before;
    std::memcpy(&before, &completion, sizeof before);

    CvError error;
    EXPECT_EQ(CvResourceService_SubmitCommand(disk, ataUid, 0, &command, &completion, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Submitting commands not supported");
    EXPECT_EQ(std::memcmp(&completion, &before, sizeof completion), 0);

    const int polls = Polls().count();
    EXPECT_EQ(CvResourceManager_Unregister(disk, &error), 1) << error.message;
    EXPECT_EQ(Polls().count(), polls);  // nothing was pending, nothing waited
}

TEST_F(ResourceCommandsTest, AcceptedSubmitHoldsTheResourceUntilTheNotice)
{
    CvCommandCompletion* accepted = nullptr;
    CvCommand* acceptedCommand = nullptr;
    ata.submit = [&](CvCommand* command, CvCommandCompletion* completion, CvError* error) {
        accepted = completion;
        acceptedCommand = command;
        return CvSetNoThreadError(error);
    };
    CvCommand command = EmptyCommand();
    command.tag = 17;
    std::atomic<int> completions = 0;
    CvCommandCompletion completion{};
    completion.context = &completions;
    completion.complete = [](CvCommandCompletion* done, CvCommand*) {
        ++*static_cast<std::atomic<int>*>(done->context);
    };
    CvError error;
    ASSERT_EQ(CvResourceService_SubmitCommand(disk, ataUid, 0, &command, &completion, &error), 1);
    EXPECT_EQ(accepted, &completion);

    std::atomic<bool> unregistered = false;
    const int polls = Polls().count();
    std::thread remover([&] {
        CvError removeError;
        EXPECT_EQ(CvResourceManager_Unregister(disk, &removeError), 1) << removeError.message;
        unregistered = true;
    });
    Polls().waitFor(polls + 1);  // the removal waits for the outstanding command
    EXPECT_FALSE(unregistered);
    EXPECT_TRUE(journal.lines().empty());

    // The service completes it from a thread of its own.
    std::thread completer([&] {
        CvSetNoThreadError(&accepted->error);
        accepted->complete(accepted, acceptedCommand);
        CvResourceService_NotifyCommandCompleted(disk, ataUid);
    });
    completer.join();
    remover.join();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(journal.lines(), (std::vector<std::string>{"dispose service ata/device", "dispose resource disk:0"}));
}

TEST_F(ResourceCommandsTest, NoticesForUnknownThingsAreLoggedAndIgnored)
{
    LogCapture log;
    CvResourceService_NotifyCommandCompleted(424242, ataUid);
    CvResourceService_NotifyCommandCompleted(disk, 424242);
    // Nothing outstanding: ignored, so the counts cannot go below 0.
    CvResourceService_NotifyCommandCompleted(disk, ataUid);
    const std::string ids = std::to_string(disk) + ":";
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  {CV_LOG_ERROR, "Resource with UID 424242 was not found when doing command complete notify"},
                  {CV_LOG_ERROR, "Resource service with UID " + ids + "424242 was not found when doing command "
                                                                     "complete notify"},
                  {CV_LOG_ERROR, "Resource service with UID " + ids + std::to_string(ataUid) +
                                     " has no submitted command outstanding when doing command complete notify"},
              }));
    CvError error;
    const int polls = Polls().count();
    EXPECT_EQ(CvResourceManager_Unregister(disk, &error), 1);
    EXPECT_EQ(Polls().count(), polls);

    CvResourceManager_Uninitialize(&error);
    CvResourceService_NotifyCommandCompleted(disk, ataUid);
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_ERROR, "Resource manager is uninitialized when doing command complete notify"}));
    CvResourceManager_Initialize();
}

TEST_F(ResourceCommandsTest, UnregisteringWaitsForARunningCommandThenDisposesServicesFirst)
{
    std::latch release(1);
    std::thread client = StartHeldCommand(release);

    const int polls = Polls().count();
    std::thread remover([&] {
        CvError error;
        EXPECT_EQ(CvResourceManager_Unregister(disk, &error), 1) << error.message;
    });
    Polls().waitFor(polls + 1);
    // While it waits, the resource is still fully usable.
    CvResourceInfo info;
    CvError error;
    EXPECT_EQ(CvResource_GetInfo(disk, &info, &error), 1);
    release.count_down();
    client.join();
    remover.join();
    EXPECT_EQ(journal.lines(), (std::vector<std::string>{"execute returned", "dispose service ata/device",
                                                         "dispose resource disk:0"}));
}

TEST_F(ResourceCommandsTest, CallsDuringDisposalSeeTheResourceBeingDisposed)
{
    std::vector<std::string> seen;
    ata.dispose = [&](CvError* error) {
        CvError during;
        CvCommand command = EmptyCommand();
        CvResourceService_ExecuteCommand(disk, ataUid, 0, &command, &during);
        seen.emplace_back(during.message);
        CvUID uid = CV_UID_NONE;
        CvResource_RegisterService(disk, service("scsi/device").descriptor(), &uid, &during);
        seen.emplace_back(during.message);
        return CvSetNoThreadError(error);
    };
    CvError error;
    ASSERT_EQ(CvResourceManager_Unregister(disk, &error), 1);
    const std::string disposing = "Resource with UID " + std::to_string(disk) + " is being disposed";
    EXPECT_EQ(seen, (std::vector<std::string>{disposing, disposing}));
}

TEST_F(ResourceCommandsTest, UnregisteringAServiceWaitsForItsRunningCommand)
{
    std::latch release(1);
    std::thread client = StartHeldCommand(release);
    const int polls = Polls().count();
    std::thread remover([&] {
        CvError error;
        EXPECT_EQ(CvResource_UnregisterService(disk, ataUid, &error), 1) << error.message;
    });
    Polls().waitFor(polls + 1);
    release.count_down();
    client.join();
    remover.join();
    EXPECT_EQ(journal.lines(), (std::vector<std::string>{"execute returned", "dispose service ata/device"}));
}

// Records hot-plug events in arrival order.
struct EventLog {
    std::vector<std::string> events;  // touched on the work thread only
    CvHotplugListener listener{};
    EventLog()
    {
        listener.userData = this;
        listener.resourceAdded = [](void* self, CvUID uid, const CvResourceInfo* info) {
            static_cast<EventLog*>(self)->events.push_back("resource added " + std::to_string(uid) + " " + info->name);
        };
        listener.resourceRemoved = [](void* self, CvUID uid) {
            static_cast<EventLog*>(self)->events.push_back("resource removed " + std::to_string(uid));
        };
        listener.resourceServiceAdded = [](void* self, CvUID resource, CvUID service, const CvServiceInfo* info) {
            static_cast<EventLog*>(self)->events.push_back("service added " + std::to_string(resource) + ":" +
                                                           std::to_string(service) + " " + info->type);
        };
        listener.resourceServiceRemoved = [](void* self, CvUID resource, CvUID service) {
            static_cast<EventLog*>(self)->events.push_back("service removed " + std::to_string(resource) + ":" +
                                                           std::to_string(service));
        };
    }
};

TEST_F(ResourceCommandsTest, HotplugEventsArriveAfterTheCallsInOrder)
{
    corvane_test::WorkMarker().wait();  // the fixture's own events are delivered
    EventLog log;
    CvHotplugEventManager_AddListener(&log.listener);
    CvUID uid = CV_UID_NONE;
    CvUID scsi = CV_UID_NONE;
    CvError error;
    {
        // The work thread is held while the calls run: every event is queued,
        // none delivered, until all of them have returned.
        corvane_test::WorkGate gate;
        uid = resource("disk:9").add(&error);
        ASSERT_EQ(CvResource_RegisterService(uid, service("scsi/device").descriptor(), &scsi, &error), 1);
        ASSERT_EQ(CvResourceManager_Unregister(uid, &error), 1);
        EXPECT_TRUE(log.events.empty());
        gate.open();
        corvane_test::WorkMarker().wait();
    }
    CvHotplugEventManager_RemoveListener(&log.listener);
    const std::string ids = std::to_string(uid) + ":" + std::to_string(scsi);
    EXPECT_EQ(log.events, (std::vector<std::string>{"resource added " + std::to_string(uid) + " disk:9",
                                                    "service added " + ids + " scsi/device", "service removed " + ids,
                                                    "resource removed " + std::to_string(uid)}));
}

}  // namespace
