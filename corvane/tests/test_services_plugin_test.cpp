// The test-services plug-in, loaded through the plug-in manager: what its
// settings register, its asynchronous completions, its gate and its server.
// Other tests drive it the same way through a machine.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <latch>
#include <string>
#include <thread>

#include "poll_watch.h"
#include "test_services.h"

namespace {

// Waits for one completion and tells on which thread it came.
struct CompletionWaiter {
    CvCommandCompletion completion{};
    std::latch done{1};
    std::thread::id thread;
    CompletionWaiter()
    {
        completion.context = this;
        completion.complete = [](CvCommandCompletion* finished, CvCommand*) {
            auto* self = static_cast<CompletionWaiter*>(finished->context);
            self->thread = std::this_thread::get_id();
            self->done.count_down();
        };
    }
};

class TestServicesPluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("CORVANE_PLUGIN_PATH", TestServicesHooks::Directory().c_str(), 1);
        CvInitialize();
    }
    void TearDown() override
    {
        CvError error;
        EXPECT_EQ(CvUninitialize(&error), 1) << error.message;
    }

    void load(std::initializer_list<std::pair<const char*, const char*>> entries)
    {
        StringMap* settings = StringMap_Create();
        for (const auto& [key, value] : entries) StringMap_SetValue(settings, key, value);
        CvError error;
        ASSERT_EQ(CvPluginManager_Load(TEST_SERVICES_PLUGIN_NAME, settings, &plugin, &error), 1) << error.message;
        StringMap_Destroy(settings);
    }
    void unload()
    {
        CvError error;
        ASSERT_EQ(CvPluginManager_Unload(plugin, &error), 1) << error.message;
    }
    static CvUID resourceNamed(const char* name)
    {
        CvUID uid = CV_UID_NONE;
        CvError error;
        EXPECT_EQ(CvResourceManager_LookupResource(name, &uid, &error), 1);
        return uid;
    }
    static CvUID serviceOf(CvUID resource, const char* type)
    {
        CvUID uid = CV_UID_NONE;
        CvError error;
        EXPECT_EQ(CvResource_LookupResourceService(resource, type, &uid, &error), 1);
        return uid;
    }

    TestServicesHooks hooks;
    CvUID plugin = CV_UID_NONE;
};

TEST_F(TestServicesPluginTest, RegistersWhatItsSettingsNameAndRemovesItAtUnload)
{
    load({{"Resources", "disk:0, disk:1"},
          {"Services", "test/echo,test/async"},
          {"MachineServices", "test/machine"},
          {"ServerProtocol", "cv-test"}});
    const CvUID disk = resourceNamed("disk:1");
    ASSERT_NE(disk, CV_UID_NONE);
    CvResourceTypeInfo typeInfo;
    CvError error;
    ASSERT_EQ(CvResource_GetTypeInfo(disk, &typeInfo, &error), 1);
    EXPECT_STREQ(typeInfo.typeName, "test/resource");
    EXPECT_STREQ(static_cast<const char*>(typeInfo.typeData), "disk:1");

    char in[4] = {1, 2, 3, 4};
    char out[4] = {};
    CvCommand command{};
    command.function = TEST_FUNCTION_ECHO;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = in;
    command.bufferLengths[0] = sizeof in;
    command.buffers[1] = out;
    command.bufferLengths[1] = sizeof out;
    ASSERT_EQ(CvResourceService_ExecuteCommand(disk, serviceOf(disk, "test/echo"), 0, &command, &error), 1);
    EXPECT_EQ(command.result, TEST_ECHO_RESULT);
    EXPECT_EQ(std::memcmp(in, out, sizeof in), 0);
    command.function = 9;
    EXPECT_EQ(CvResourceService_ExecuteCommand(disk, serviceOf(disk, "test/echo"), 0, &command, &error), 0);
    EXPECT_STREQ(error.message, "Unsupported function code: 9");
    CvCommandCompletion unused{};
    EXPECT_EQ(CvResourceService_SubmitCommand(disk, serviceOf(disk, "test/echo"), 0, &command, &unused, &error), 0);
    EXPECT_STREQ(error.message, "Submitting commands not supported");

    CvUID machineService = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_LookupMachineService("test/machine", &machineService, &error), 1);
    EXPECT_NE(machineService, CV_UID_NONE);
    CvUID server = CV_UID_NONE;
    ASSERT_EQ(CvServerManager_LookupServer("cv-test", &server, &error), 1);
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "Port", "4242");
    ASSERT_EQ(CvServer_Start(server, settings, &error), 1);
    StringMap_Destroy(settings);
    EXPECT_EQ(hooks.serverStartCount(), 1);
    char port[16];
    ASSERT_EQ(hooks.serverSetting("port", port, sizeof port), 1);
    EXPECT_STREQ(port, "4242");

    unload();
    EXPECT_EQ(hooks.journal(),
              "dispose server cv-test\n"
              "dispose machine service test/machine\n"
              "dispose service disk:0 test/echo\ndispose service disk:0 test/async\ndispose resource disk:0\n"
              "dispose service disk:1 test/echo\ndispose service disk:1 test/async\ndispose resource disk:1\n");
    EXPECT_EQ(resourceNamed("disk:1"), CV_UID_NONE);
}

TEST_F(TestServicesPluginTest, AsyncServiceCompletesOnItsOwnThread)
{
    load({{"Services", "test/async"}, {"MachineServices", "test/async"}});
    const CvUID disk = resourceNamed("test:0");
    CvCommand command{};
    command.function = TEST_FUNCTION_FAIL;
    command.tag = 11;
    CompletionWaiter waiter;
    CvError error;
    ASSERT_EQ(CvResourceService_SubmitCommand(disk, serviceOf(disk, "test/async"), 0, &command, &waiter.completion,
                                              &error),
              1);
    waiter.done.wait();
    EXPECT_NE(waiter.thread, std::this_thread::get_id());
    EXPECT_EQ(waiter.completion.error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(waiter.completion.error.message, "Test failure requested");

    CvUID machineService = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_LookupMachineService("test/async", &machineService, &error), 1);
    CvCommand nothing{};
    nothing.tag = 12;
    CompletionWaiter machineWaiter;
    ASSERT_EQ(CvMachineService_SubmitCommand(machineService, 0, &nothing, &machineWaiter.completion, &error), 1);
    machineWaiter.done.wait();
    EXPECT_EQ(machineWaiter.completion.error.code, 0);
    unload();  // waits for both notices
    EXPECT_EQ(hooks.journal().rfind("complete test/async tag=11 code=2\ncomplete test/async tag=12 code=0\n", 0), 0u)
        << hooks.journal();
}

TEST_F(TestServicesPluginTest, HeldCommandsCompleteOnRequestOrAbort)
{
    load({{"Services", "test/async"}, {"AsyncCompletion", "held"}});
    const CvUID disk = resourceNamed("test:0");
    const CvUID async = serviceOf(disk, "test/async");
    CvCommand first{};
    first.tag = 1;
    CvCommand second{};
    second.tag = 2;
    CompletionWaiter firstWaiter;
    CompletionWaiter secondWaiter;
    CvError error;
    ASSERT_EQ(CvResourceService_SubmitCommand(disk, async, 0, &first, &firstWaiter.completion, &error), 1);
    ASSERT_EQ(CvResourceService_SubmitCommand(disk, async, 0, &second, &secondWaiter.completion, &error), 1);
    hooks.waitHeld(2);

    ASSERT_EQ(CvResourceService_AbortCommand(disk, async, 0, 2, &error), 1);
    secondWaiter.done.wait();
    EXPECT_STREQ(secondWaiter.completion.error.message, "Command with tag 2 was aborted");
    EXPECT_EQ(CvResourceService_AbortCommand(disk, async, 0, 2, &error), 0);
    EXPECT_STREQ(error.message, "No submitted command with tag 2");

    // The held command keeps its resource: unregistering waits for it.
    const int polls = corvane_test::Polls().count();
    std::thread remover([&] {
        CvError removeError;
        EXPECT_EQ(CvResourceManager_Unregister(disk, &removeError), 1) << removeError.message;
    });
    corvane_test::Polls().waitFor(polls + 1);
    hooks.completeHeld();
    remover.join();
    firstWaiter.done.wait();
    EXPECT_EQ(firstWaiter.completion.error.code, 0);
    EXPECT_EQ(hooks.journal(),
              "complete test/async tag=2 code=2\ncomplete test/async tag=1 code=0\n"
              "dispose service test:0 test/async\ndispose resource test:0\n");
}

TEST_F(TestServicesPluginTest, GatedExecuteHoldsUnregisteringUntilOpened)
{
    load({{"Services", "test/gate"}});
    const CvUID disk = resourceNamed("test:0");
    const CvUID gate = serviceOf(disk, "test/gate");
    std::thread client([&] {
        CvCommand command{};
        CvError error;
        EXPECT_EQ(CvResourceService_ExecuteCommand(disk, gate, 0, &command, &error), 1) << error.message;
    });
    hooks.waitGateEntered(1);
    const int polls = corvane_test::Polls().count();
    std::thread remover([&] {
        CvError error;
        EXPECT_EQ(CvResourceManager_Unregister(disk, &error), 1) << error.message;
    });
    corvane_test::Polls().waitFor(polls + 1);
    EXPECT_EQ(hooks.journal(), "");
    hooks.openGate();
    client.join();
    remover.join();
    EXPECT_EQ(hooks.journal(), "dispose service test:0 test/gate\ndispose resource test:0\n");
}

}  // namespace
