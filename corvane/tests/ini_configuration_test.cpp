// Configuring the framework from an INI file: plug-ins, then connections, then
// servers, each entry with its own section as settings.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_bridge.h"
#include "log_capture.h"
#include "plugin_test_support.h"

namespace {

using corvane_test::EntryPointCalls;
using corvane_test::FakeBridge;
using corvane_test::LogCapture;
using corvane_test::PluginList;

// A server registered by the test: records each start with what its settings held.
class RecordingServer {
public:
    explicit RecordingServer(const char* protocol)
    {
        std::memset(&descriptor_, 0, sizeof descriptor_);
        std::strncpy(descriptor_.info.name, "Recording Server", sizeof descriptor_.info.name - 1);
        std::strncpy(descriptor_.info.protocol, protocol, sizeof descriptor_.info.protocol - 1);
        descriptor_.userData = this;
        descriptor_.start = [](void* self, StringMap* settings, CvError* error) {
            const char* port = settings != nullptr ? StringMap_GetValue(settings, "Port") : nullptr;
            static_cast<RecordingServer*>(self)->starts.push_back(settings == nullptr ? "no settings"
                                                                  : port != nullptr ? std::string("Port=") + port
                                                                                    : "settings");
            return CvSetNoThreadError(error);
        };
        descriptor_.stop = [](void*, CvError* error) { return CvSetNoThreadError(error); };
    }
    CvUID add()
    {
        CvError error{};
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(1, CvServerManager_Register(&descriptor_, &uid, &error)) << error.message;
        return uid;
    }

    std::vector<std::string> starts;

private:
    CvServerDescriptor descriptor_;
};

class IniConfiguration : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/corvane-ini-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        dir_ = pattern;
        CvInitialize();
        capture_ = std::make_unique<LogCapture>();
        bridge_.add();
        server_.add();
    }
    void TearDown() override
    {
        EXPECT_EQ(1, CvUninitialize(&error_)) << error_.message;
        capture_.reset();
        std::filesystem::remove_all(dir_);
    }

    // Writes the text to a file and configures from it.
    int Configure(const std::string& text)
    {
        const std::string path = (dir_ / "test.ini").string();
        std::ofstream(path) << text;
        return CvHelper_ConfigureUsingINIFile(path.c_str(), &error_);
    }
    std::vector<std::string> MachineUrls()
    {
        static CvUIDList list;
        std::vector<std::string> urls;
        EXPECT_EQ(1, CvMachineManager_GetMachineList(&list, &error_));
        for (int32_t i = 0; i < list.count; ++i) {
            CvMachineInfo info{};
            EXPECT_EQ(1, CvMachine_GetInfo(list.uids[i], &info, &error_));
            urls.push_back(info.url);
        }
        return urls;
    }
    std::vector<std::string> Loads() const
    {
        std::vector<std::string> loads;
        for (const std::string& call : EntryPointCalls(*capture_))
            if (call.find(": load entry point") != std::string::npos) loads.push_back(call);
        return loads;
    }

    std::filesystem::path dir_;
    CvError error_{};
    std::unique_ptr<LogCapture> capture_;
    FakeBridge bridge_{"cv-fake"};
    RecordingServer server_{"cv-test"};
};

const std::string kLoadA = "good-a: load entry point called with ";
const std::string kLoadB = "good-b: load entry point called with ";

TEST_F(IniConfiguration, WithoutCorvaneSectionNothingIsConfigured)
{
    EXPECT_EQ(1, Configure("[Other]\nPlugins=cvpl-test-good-a\nConnections=cv-fake://x\nServers=cv-test\n"));
    EXPECT_EQ(0, error_.code);
    EXPECT_TRUE(PluginList().empty());
    EXPECT_TRUE(MachineUrls().empty());
    EXPECT_TRUE(server_.starts.empty());
    // A control section without the keys does nothing either.
    EXPECT_EQ(1, Configure("[Corvane]\nUnrelated=1\n"));
    EXPECT_TRUE(PluginList().empty());
}

// The control section and the entries' sections are found ignoring case; an
// entry without a section of its own gets null settings.
TEST_F(IniConfiguration, SectionsAreMatchedIgnoringCase)
{
    ASSERT_EQ(1, Configure("[corvane]\n"
                           "plugins=cvpl-test-good-a,,cvpl-test-good-b\n"
                           "Connections=cv-fake://alpha,cv-FAKE://beta\n"
                           "SERVERS=cv-test\n"
                           "[CVPL-Test-Good-A]\nMode=fast\n"
                           "[CV-FAKE://BETA]\nUser=me\n"
                           "[Cv-Test]\nPort=4000\n"))
        << error_.message;
    EXPECT_EQ((std::vector<std::string>{kLoadA + "settings Mode=fast;", kLoadB + "no settings"}), Loads());
    EXPECT_EQ(2u, PluginList().size());
    EXPECT_EQ((std::vector<std::string>{"cv-fake://alpha", "cv-FAKE://beta"}), MachineUrls());
    ASSERT_EQ(2u, bridge_.machineCount());
    EXPECT_EQ(std::vector<std::string>{"connect"}, bridge_.machine(0).calls());
    EXPECT_EQ(std::vector<std::string>{"connect map"}, bridge_.machine(1).calls());
    EXPECT_EQ(std::vector<std::string>{"Port=4000"}, server_.starts);
}

// Entries are not trimmed: " cvpl-test-good-b" is its own name and fails; what
// came before stays loaded and nothing after it is tried.
TEST_F(IniConfiguration, BlankAfterCommaBecomesPartOfTheName)
{
    EXPECT_EQ(0, Configure("[Corvane]\nPlugins=cvpl-test-good-a, cvpl-test-good-b,cvpl-test-good-c\n"
                           "Connections=cv-fake://x\n"));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_STREQ("Couldn't open plugin ' cvpl-test-good-b.so'", error_.message);
    EXPECT_EQ(std::vector<std::string>{kLoadA + "no settings"}, Loads());
    EXPECT_EQ(1u, PluginList().size());
    EXPECT_EQ(0u, bridge_.machineCount());
}

TEST_F(IniConfiguration, OnlyTheFirstCorvaneSectionCounts)
{
    ASSERT_EQ(1, Configure("[Corvane]\nPlugins=cvpl-test-good-a\n[CORVANE]\nPlugins=cvpl-test-good-b\n"
                           "Connections=cv-fake://x\n"))
        << error_.message;
    EXPECT_EQ(std::vector<std::string>{kLoadA + "no settings"}, Loads());
    EXPECT_TRUE(MachineUrls().empty());
}

// Server protocols are matched exactly; a missing one fails with code 4 once
// the plug-ins are loaded and the machines connected, and none of it is undone.
TEST_F(IniConfiguration, UnknownServerProtocolFailsAfterPluginsAndConnections)
{
    EXPECT_EQ(0, Configure("[Corvane]\nPlugins=cvpl-test-good-a,cvpl-test-good-b\n"
                           "Connections=cv-fake://one,cv-fake://two\n"
                           "Servers=cv-test,CV-TEST,cv-other\n"));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error_.code);
    EXPECT_STREQ("Unable to find server for protocol 'CV-TEST' in order to start it", error_.message);
    EXPECT_EQ(2u, PluginList().size());
    EXPECT_EQ((std::vector<std::string>{"cv-fake://one", "cv-fake://two"}), MachineUrls());
    ASSERT_EQ(2u, bridge_.machineCount());
    EXPECT_EQ(std::vector<std::string>{"connect"}, bridge_.machine(1).calls());
    EXPECT_EQ(std::vector<std::string>{"no settings"}, server_.starts);
}

TEST_F(IniConfiguration, FailingConnectionStopsBeforeTheServers)
{
    EXPECT_EQ(0, Configure("[Corvane]\nConnections=cv-fake://one,cv-none://two,cv-fake://three\n"
                           "Servers=cv-test\n"));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_STREQ("Unable to find bridge that can handle the protocol 'cv-none'", error_.message);
    EXPECT_EQ(std::vector<std::string>{"cv-fake://one"}, MachineUrls());
    EXPECT_TRUE(server_.starts.empty());
}

TEST_F(IniConfiguration, UnreadableFileReportsTheParserMessageWithCode2)
{
    const std::string missing = (dir_ / "missing.ini").string();
    EXPECT_EQ(0, CvHelper_ConfigureUsingINIFile(missing.c_str(), &error_));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_EQ("Unable to open file '" + missing + "' for reading", std::string(error_.message));

    EXPECT_EQ(0, Configure("[Corvane]\nPlugins=cvpl-test-good-a\nbroken line\n"));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_STREQ("Line 3: Malformed section entry (unable to find '=' symbol): 'broken line'", error_.message);
    EXPECT_TRUE(PluginList().empty());
}

// The settings variants work on lists the caller parsed and keeps.
TEST_F(IniConfiguration, SettingsVariantsLeaveTheCallersListsAlone)
{
    const std::string path = (dir_ / "kept.ini").string();
    std::ofstream(path) << "[Corvane]\nPlugins=cvpl-test-good-a\nConnections=cv-fake://x\nServers=cv-test\n"
                           "[cv-test]\nPort=1\n";
    ArrayList* names = ArrayList_Create();
    ArrayList* maps = ArrayList_Create();
    ASSERT_EQ(1, CvUtil_ParseINI(path.c_str(), names, maps, &error_));

    EXPECT_EQ(1, CvHelper_ConfigureServersUsingINISettings(names, maps, &error_)) << error_.message;
    EXPECT_EQ(std::vector<std::string>{"Port=1"}, server_.starts);
    EXPECT_TRUE(PluginList().empty());
    EXPECT_EQ(1, CvHelper_ConfigureConnectionsUsingINISettings(names, maps, &error_)) << error_.message;
    EXPECT_EQ(1u, bridge_.machineCount());
    EXPECT_EQ(1, CvHelper_ConfigurePluginsUsingINISettings(names, maps, &error_)) << error_.message;
    EXPECT_EQ(1u, PluginList().size());
    // All three again: the plug-in is loaded already, which ends the run there.
    EXPECT_EQ(0, CvHelper_ConfigureUsingINISettings(names, maps, &error_));
    EXPECT_STREQ("Plugin already loaded", error_.message);

    ASSERT_EQ(2, ArrayList_GetSize(names));
    EXPECT_STREQ("Corvane", static_cast<const char*>(ArrayList_Get(names, 0)));
    EXPECT_STREQ("1", StringMap_GetValue(static_cast<StringMap*>(ArrayList_Get(maps, 1)), "Port"));
    CvUtil_DestroyListAndData(names);
    for (int32_t i = 0; i < ArrayList_GetSize(maps); ++i) StringMap_Destroy(static_cast<StringMap*>(ArrayList_Get(maps, i)));
    ArrayList_Destroy(maps);
}

}  // namespace
