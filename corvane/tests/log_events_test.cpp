// Log events: fan-out to listeners, the message cut and listener removal.
#include <corvane.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"

namespace {

using corvane_test::LogCapture;
using corvane_test::LogLine;

class LogEventsTest : public ::testing::Test {
protected:
    void SetUp() override { CvLogEventManager_Initialize(); }
    void TearDown() override { CvLogEventManager_Uninitialize(); }
};

TEST_F(LogEventsTest, CutsMessagesAt1023Characters)
{
    LogCapture log;
    const std::string longText(2000, 'L');
    CvLog(2, "%s", longText.c_str());
    CvLog(4, "Plugin loaded - PluginID=%d PluginName='%s'", 7, "Local Access Plugin");
    ASSERT_EQ(2u, log.lines().size());
    EXPECT_EQ((LogLine{2, std::string(1023, 'L')}), log.lines()[0]);
    EXPECT_EQ((LogLine{4, "Plugin loaded - PluginID=7 PluginName='Local Access Plugin'"}), log.lines()[1]);
}

TEST_F(LogEventsTest, CallsListenersInOrderUntilRemoved)
{
    std::vector<std::string> calls;
    struct Tagged {
        std::vector<std::string>* calls;
        const char* tag;
    };
    const auto record = [](void* user, int, const char* message) {
        auto* tagged = static_cast<Tagged*>(user);
        tagged->calls->push_back(std::string(tagged->tag) + ":" + message);
    };
    Tagged first{&calls, "first"}, second{&calls, "second"};
    CvLogListener a{&first, record}, b{&second, record}, silent{&first, nullptr};

    CvLog(1, "nobody listens");
    CvLogEventManager_AddListener(&a);
    CvLogEventManager_AddListener(&silent);
    CvLogEventManager_AddListener(&b);
    CvLogEventManager_AddListener(&a);  // added twice: called twice
    CvLog(1, "one");
    CvLogEventManager_RemoveListener(&a);  // one copy goes
    CvLog(1, "two");
    CvLogEventManager_RemoveListener(&b);
    CvLogEventManager_RemoveListener(&silent);
    CvLog(1, "three");
    CvLogEventManager_RemoveListener(&a);
    CvLog(1, "four");
    EXPECT_EQ(calls, (std::vector<std::string>{"first:one", "second:one", "first:one", "first:two", "second:two",
                                               "first:three"}));
}

TEST_F(LogEventsTest, ListenersMayLogThemselves)
{
    LogCapture log;
    struct Echo {
        int depth = 0;
    } echo;
    CvLogListener echoing{&echo, [](void* user, int level, const char* message) {
                              auto* e = static_cast<Echo*>(user);
                              if (e->depth++ == 0) CvLog(level + 1, "echo of %s", message);
                          }};
    CvLogEventManager_AddListener(&echoing);
    CvLog(1, "original");
    CvLogEventManager_RemoveListener(&echoing);
    // The capture was added first, so it sees the original before the echo.
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "original"}, {2, "echo of original"}}));
}

}  // namespace
