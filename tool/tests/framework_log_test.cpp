#include "framework_log.h"
#include "output.h"
#include "test_support.h"

#include <corvane.h>
#include <gtest/gtest.h>

namespace firmstep {
namespace {

TEST(FrameworkLog, LevelNames)
{
    EXPECT_STREQ(LogLevelName(0), "FATAL");
    EXPECT_STREQ(LogLevelName(1), "ERROR");
    EXPECT_STREQ(LogLevelName(2), "WARNING");
    EXPECT_STREQ(LogLevelName(3), "INFO");
    EXPECT_STREQ(LogLevelName(4), "DEBUG");
    EXPECT_STREQ(LogLevelName(5), "???");
    EXPECT_STREQ(LogLevelName(-1), "???");
}

// The listener prints through the tool's output path, so with a log file open
// every framework line lands there as well as on the console.
TEST(FrameworkLog, ListenerPrintsFrameworkLinesWithTheirLevelNames)
{
    test::TempDir dir;
    const auto logPath = dir.path() / "debug.log";
    ASSERT_TRUE(OpenLogFile(logPath.c_str()));
    CvInitialize();
    RegisterFrameworkLogListener();
    CvLog(0, "core %s", "halted");
    CvLog(1, "disk %d gone", 3);
    CvLog(3, "%s", "resource added");
    CvLog(4, "trace");
    CvLog(42, "odd level");
    CvError error{};
    EXPECT_EQ(CvUninitialize(&error), 1);
    CloseLogFile();
    EXPECT_EQ(test::ReadFile(logPath),
              "FATAL: core halted\n"
              "ERROR: disk 3 gone\n"
              "INFO: resource added\n"
              "DEBUG: trace\n"
              "???: odd level\n");
}

}  // namespace
}  // namespace firmstep
