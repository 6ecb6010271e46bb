// Loading, refusing, describing and unloading plug-ins.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "plugin_test_support.h"

namespace {

using corvane_test::EntryPointCalls;
using corvane_test::IsMapped;
using corvane_test::LoadedLine;
using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::PluginList;
using corvane_test::UnloadedLine;

[[maybe_unused]] ::testing::Environment* const g_pluginPath =
    ::testing::AddGlobalTestEnvironment(new corvane_test::PluginPathEnvironment);

class PluginManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvInitialize();
        capture_ = std::make_unique<LogCapture>();
    }
    void TearDown() override
    {
        if (up_) {
            EXPECT_EQ(1, CvUninitialize(&error_)) << error_.message;
        }
        capture_.reset();
    }
    int Uninitialize()
    {
        up_ = false;
        return CvUninitialize(&error_);
    }
    CvUID LoadOk(const char* name, const StringMap* settings = nullptr)
    {
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(1, CvPluginManager_Load(name, settings, &uid, &error_)) << name << ": " << error_.message;
        EXPECT_EQ(0, error_.code);
        return uid;
    }
    std::vector<std::string> Messages() const { return capture_->messages(); }
    bool Logged(const std::string& message) const
    {
        const auto messages = Messages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    CvError error_{};
    std::unique_ptr<LogCapture> capture_;
    bool up_ = true;
};

// Every refusal, in the order the exports are checked: code 2, the normalised
// name quoted, the load entry point never called, nothing listed, the library
// not left mapped and no UID handed out.
TEST_F(PluginManager, RefusalsLeaveNothingBehind)
{
    const std::string prefix = "Couldn't load plugin '";
    const struct {
        const char* name;
        std::string message;
    } cases[] = {
        {"cvpl-test-missing", "Couldn't open plugin 'cvpl-test-missing.so'"},
        {"cvpl-test-no-arch", prefix + "cvpl-test-no-arch.so': could not get its CPU architecture details"},
        {"cvpl-test-wrong-arch", prefix + "cvpl-test-wrong-arch.so': it was built for a different CPU architecture"},
        {"cvpl-test-no-abi", prefix + "cvpl-test-no-abi.so': could not get its binary interface details"},
        {"cvpl-test-wrong-abi",
         prefix + "cvpl-test-wrong-abi.so': it is not binary compatible (built for a different ABI)"},
        {"cvpl-test-no-compat", prefix + "cvpl-test-no-compat.so': could not get its plugin compatibility number"},
        {"cvpl-test-compat-2",
         prefix + "cvpl-test-compat-2.so': it is not API compatible (we are 1 and the plugin is built for 2)"},
        {"cvpl-test-no-descriptor", prefix + "cvpl-test-no-descriptor.so': Could not find plugin descriptor"},
    };
    for (const auto& c : cases) {
        CvUID uid = 12345;
        EXPECT_EQ(0, CvPluginManager_Load(c.name, nullptr, &uid, &error_)) << c.name;
        EXPECT_EQ(CV_ERROR_FAILED, error_.code) << c.name;
        EXPECT_EQ(c.message, error_.message);
        EXPECT_EQ(CV_UID_NONE, uid) << c.name;
        EXPECT_TRUE(PluginList().empty()) << c.name;
        EXPECT_FALSE(IsMapped(std::string(c.name) + ".so")) << c.name;
    }
    EXPECT_TRUE(EntryPointCalls(*capture_).empty());
    EXPECT_TRUE(capture_->lines().empty());
}

TEST_F(PluginManager, LoadedPluginIsListedDescribedAndLogged)
{
    const CvUID uid = LoadOk("cvpl-test-good-a");
    EXPECT_EQ(std::vector<CvUID>{uid}, PluginList());
    EXPECT_TRUE(IsMapped("cvpl-test-good-a.so"));

    CvPluginInfo info;
    ASSERT_EQ(1, CvPlugin_GetInfo(uid, &info, &error_));
    EXPECT_STREQ("Loader Test Plugin good-a", info.name);
    EXPECT_STREQ("Records the calls of its entry points", info.description);
    EXPECT_STREQ("1.0.0.0", info.version);
    EXPECT_STREQ("No rights reserved", info.copyright);
    EXPECT_STREQ("Corvane tests", info.author);
    EXPECT_STREQ("tests@corvane.invalid", info.contact);

    const std::vector<LogLine> expected = {
        {CV_LOG_DEBUG, "good-a: load entry point called with no settings"},
        {CV_LOG_INFO, LoadedLine(uid, "Loader Test Plugin good-a")},
    };
    EXPECT_EQ(expected, capture_->lines());
}

TEST_F(PluginManager, SecondLoadOfTheSameNameIsRefused)
{
    const CvUID uid = LoadOk("cvpl-test-good-a");
    CvUID second = 7;
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-test-good-a", nullptr, &second, &error_));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_STREQ("Plugin already loaded", error_.message);
    EXPECT_EQ(CV_UID_NONE, second);
    EXPECT_EQ(std::vector<CvUID>{uid}, PluginList());
    EXPECT_EQ(1u, EntryPointCalls(*capture_).size());
}

TEST_F(PluginManager, FailingLoadEntryPointIsReportedUnchangedAndNothingStays)
{
    CvUID uid = 0;
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-test-load-fails", nullptr, &uid, &error_));
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error_.code);
    EXPECT_STREQ("Test plugin load-fails refuses to load: no device here", error_.message);
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_TRUE(PluginList().empty());
    EXPECT_FALSE(IsMapped("cvpl-test-load-fails.so"));
    EXPECT_EQ(std::vector<std::string>{"load-fails: load entry point called with no settings"}, Messages());
    // Refused, not remembered: it can be tried again.
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-test-load-fails", nullptr, &uid, &error_));
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error_.code);
}

// Name, description and version are cut to their last byte in the framework's
// copy; the other texts are kept as the plug-in wrote them.
TEST_F(PluginManager, UnterminatedTextsAreCut)
{
    const std::string sixteen = "0123456789abcdef";
    const std::string name63 = (sixteen + sixteen + sixteen + sixteen).substr(0, 63);
    const CvUID uid = LoadOk("cvpl-test-full-texts");
    EXPECT_TRUE(Logged(LoadedLine(uid, name63)));

    CvPluginInfo info;
    ASSERT_EQ(1, CvPlugin_GetInfo(uid, &info, &error_));
    EXPECT_EQ(name63, info.name);
    EXPECT_EQ(127u, std::strlen(info.description));
    EXPECT_EQ(31u, std::strlen(info.version));
    EXPECT_EQ(0, std::memcmp(info.copyright, (sixteen + sixteen + sixteen + sixteen + sixteen + sixteen + sixteen +
                                              sixteen).data(),
                             sizeof info.copyright));
}

TEST_F(PluginManager, UnknownUidIsNotFoundAndInfoIsZeroed)
{
    CvPluginInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(0, CvPlugin_GetInfo(4000000, &info, &error_));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error_.code);
    EXPECT_STREQ("Plugin with UID 4000000 was not found", error_.message);
    const CvPluginInfo zero{};
    EXPECT_EQ(0, std::memcmp(&info, &zero, sizeof info));

    EXPECT_EQ(0, CvPluginManager_Unload(4000000, &error_));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error_.code);
    EXPECT_STREQ("Plugin with UID 4000000 was not found", error_.message);
}

TEST_F(PluginManager, UnloadRunsTheUnloadEntryPointAndUnmaps)
{
    const CvUID a = LoadOk("cvpl-test-good-a");
    const CvUID b = LoadOk("cvpl-test-good-b");
    ASSERT_EQ(1, CvPluginManager_Unload(a, &error_)) << error_.message;
    EXPECT_EQ(0, error_.code);
    EXPECT_FALSE(IsMapped("cvpl-test-good-a.so"));
    EXPECT_EQ(std::vector<CvUID>{b}, PluginList());
    EXPECT_EQ(capture_->lines().back(), (LogLine{CV_LOG_INFO, UnloadedLine(a, "Loader Test Plugin good-a")}));

    CvPluginInfo info;
    EXPECT_EQ(0, CvPlugin_GetInfo(a, &info, &error_));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error_.code);
    // Once gone, the name can be loaded again under a new UID.
    EXPECT_NE(a, LoadOk("cvpl-test-good-a"));
}

TEST_F(PluginManager, RefusedUnloadKeepsThePluginUntilShutDown)
{
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "UnloadError", "device still open");
    const CvUID uid = LoadOk("cvpl-test-good-a", settings);
    StringMap_Destroy(settings);

    EXPECT_EQ(0, CvPluginManager_Unload(uid, &error_));
    EXPECT_EQ(CV_ERROR_FAILED, error_.code);
    EXPECT_STREQ("device still open", error_.message);
    EXPECT_EQ(std::vector<CvUID>{uid}, PluginList());
    EXPECT_TRUE(IsMapped("cvpl-test-good-a.so"));
    CvPluginInfo info;
    EXPECT_EQ(1, CvPlugin_GetInfo(uid, &info, &error_));

    // Shut-down logs the refusal and unloads it all the same.
    ASSERT_EQ(1, Uninitialize()) << error_.message;
    const std::string name = "Loader Test Plugin good-a";
    const std::string disposeError = "Error while disposing of plugin (" + std::to_string(uid) + ":'" + name +
                                     "') while unitializing the plugin manager: device still open";
    const auto lines = capture_->lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], (LogLine{CV_LOG_ERROR, disposeError}));
    EXPECT_EQ(lines.back(), (LogLine{CV_LOG_INFO, UnloadedLine(uid, name)}));
    EXPECT_FALSE(IsMapped("cvpl-test-good-a.so"));
}

// Shut-down unloads in load order, each plug-in's unload entry point once.
TEST_F(PluginManager, ShutDownUnloadsInLoadOrder)
{
    const CvUID c = LoadOk("cvpl-test-good-c");
    const CvUID a = LoadOk("cvpl-test-good-a");
    const CvUID b = LoadOk("cvpl-test-good-b");
    EXPECT_EQ((std::vector<CvUID>{c, a, b}), PluginList());
    ASSERT_EQ(1, Uninitialize()) << error_.message;

    std::vector<std::string> unloading;
    for (const std::string& message : Messages())
        if (message.find("unload") != std::string::npos) unloading.push_back(message);
    const std::vector<std::string> expected = {
        "good-c: unload entry point called", UnloadedLine(c, "Loader Test Plugin good-c"),
        "good-a: unload entry point called", UnloadedLine(a, "Loader Test Plugin good-a"),
        "good-b: unload entry point called", UnloadedLine(b, "Loader Test Plugin good-b"),
    };
    EXPECT_EQ(expected, unloading);
    for (const char* file : {"cvpl-test-good-a.so", "cvpl-test-good-b.so", "cvpl-test-good-c.so"})
        EXPECT_FALSE(IsMapped(file)) << file;
}

// While its load entry point runs, a plug-in is private to the loading call:
// the manager's mutex is free (the plug-in may call it), the plug-in is not
// listed, and loading the same file again is refused.
TEST_F(PluginManager, PluginIsPrivateWhileItsLoadEntryPointRuns)
{
    struct Probe {
        std::function<void(const std::string&)> onLine;
        static void Log(void* self, int, const char* message) { static_cast<Probe*>(self)->onLine(message); }
    } probe;
    std::vector<CvUID> listedDuringLoad = {999};
    CvError innerError{};
    CvUID inner = 0, nested = 0;
    int innerResult = -1;
    probe.onLine = [&](const std::string& message) {
        if (message != "good-a: load entry point called with no settings") return;
        listedDuringLoad = PluginList();
        innerResult = CvPluginManager_Load("cvpl-test-good-a", nullptr, &inner, &innerError);
        CvError nestedError{};
        EXPECT_EQ(1, CvPluginManager_Load("cvpl-test-good-b", nullptr, &nested, &nestedError))
            << nestedError.message;
    };
    CvLogListener listener{&probe, &Probe::Log};
    CvLogEventManager_AddListener(&listener);
    const CvUID outer = LoadOk("cvpl-test-good-a");
    CvLogEventManager_RemoveListener(&listener);

    EXPECT_TRUE(listedDuringLoad.empty());
    EXPECT_EQ(0, innerResult);
    EXPECT_STREQ("Plugin already loaded", innerError.message);
    EXPECT_EQ(CV_UID_NONE, inner);
    // The nested load finished first, so it is listed first.
    EXPECT_EQ((std::vector<CvUID>{nested, outer}), PluginList());
}

// Loads racing each other: each name is loaded exactly once, whichever call
// gets there first, and every other call for it is refused.
TEST_F(PluginManager, ConcurrentLoadsOfOneNameLoadItOnce)
{
    const char* names[] = {"cvpl-test-good-a", "cvpl-test-good-b", "cvpl-test-good-a", "cvpl-test-good-b"};
    constexpr int kThreads = 4;
    std::latch start(kThreads);
    std::vector<int> results(kThreads, -1);
    std::vector<CvError> errors(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            CvUID uid = CV_UID_NONE;
            start.arrive_and_wait();
            results[i] = CvPluginManager_Load(names[i], nullptr, &uid, &errors[i]);
        });
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(1, results[0] + results[2]);
    EXPECT_EQ(1, results[1] + results[3]);
    for (int i = 0; i < kThreads; ++i) {
        if (results[i] == 0) {
            EXPECT_STREQ("Plugin already loaded", errors[i].message);
        }
    }
    EXPECT_EQ(2u, PluginList().size());
    EXPECT_EQ(2u, EntryPointCalls(*capture_).size());
}

TEST(PluginManagerDown, CallsFailAsUninitialized)
{
    CvError error{};
    CvUID uid = 3;
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-test-good-a", nullptr, &uid, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Plugin manager is uninitialized", error.message);
    EXPECT_EQ(CV_UID_NONE, uid);
    EXPECT_FALSE(IsMapped("cvpl-test-good-a.so"));
    CvUIDList* list = static_cast<CvUIDList*>(CvAlloc(static_cast<int32_t>(sizeof(CvUIDList))));
    EXPECT_EQ(0, CvPluginManager_GetPluginList(list, &error));
    EXPECT_STREQ("Plugin manager is uninitialized", error.message);
    CvFree(list);
}

}  // namespace
