// The run through configuration and the machine list: the built program with
// configuration files written by the tests and the framework's test plug-ins.
// Each run that gets past configuration waits the one-second pause for
// background discovery, so only a few of them do.
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace firmstep {
namespace {

using test::ExpectedBanner;

class FirmstepConfiguration : public ::testing::Test {
protected:
    test::ProgramResult Run(const std::vector<std::string>& args)
    {
        return test::RunProgram(args, dir_.path(), {{"CORVANE_PLUGIN_PATH", LOADER_TEST_PLUGIN_DIR}});
    }
    void Write(const char* name, const std::string& text) { test::WriteFile(dir_.path() / name, text); }

    test::TempDir dir_;
};

TEST_F(FirmstepConfiguration, ConfigurationErrorExitsFourWithTheFrameworksMessage)
{
    Write("firmstep.ini", "[Corvane]\nPlugins=cvpl-test-good-a,cvpl-test-missing\n");
    const test::ProgramResult missingPlugin = Run({"image.bin"});
    EXPECT_EQ(missingPlugin.status, 4);
    EXPECT_EQ(missingPlugin.output,
              ExpectedBanner() + "\nERROR: Config file - Couldn't open plugin 'cvpl-test-missing.so'\n");

    const test::ProgramResult missingFile = Run({"image.bin", "-cfg", "absent.ini"});
    EXPECT_EQ(missingFile.status, 4);
    EXPECT_EQ(missingFile.output,
              ExpectedBanner() + "\nERROR: Config file - Unable to open file 'absent.ini' for reading\n");
}

// "-debug" shows the framework's log lines with their level names, from
// configuration through the shut-down that follows the error.
TEST_F(FirmstepConfiguration, DebugPrintsFrameworkLogLines)
{
    Write("firmstep.ini", "[Corvane]\nPlugins=cvpl-test-good-a,cvpl-test-load-fails\n");
    const test::ProgramResult result = Run({"image.bin", "-debug"});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.output, ExpectedBanner() +
                                 "DEBUG: good-a: load entry point called with no settings\n"
                                 "INFO: Plugin loaded - PluginID=0 PluginName='Loader Test Plugin good-a'\n"
                                 "DEBUG: load-fails: load entry point called with no settings\n"
                                 "\nERROR: Config file - Test plugin load-fails refuses to load: no device here\n"
                                 "DEBUG: good-a: unload entry point called\n"
                                 "INFO: Plugin unloaded - PluginID=0 PluginName='Loader Test Plugin good-a'\n");
}

// The text names firmstep.ini even when "-cfg" chose another file.
TEST_F(FirmstepConfiguration, EmptyMachineListExitsFive)
{
    Write("other.ini", "[Corvane]\nPlugins=cvpl-test-good-a\n");
    const test::ProgramResult result = Run({"image.bin", "-cfg", "other.ini"});
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.output, ExpectedBanner() +
                                 "There are no machines available, edit firmstep.ini and specify at least one "
                                 "machine\n");
}

// A machine without drives: the report is a line of its own, so the framework's
// shut-down lines that "-debug" shows afterwards start on their own lines.
TEST_F(FirmstepConfiguration, NoDrivesReportEndsItsLine)
{
    Write("firmstep.ini", "[Corvane]\nPlugins=cvpl-local\nConnections=cv-local://localhost\n");
    const test::ProgramResult result = Run({"-list", "-debug"});
    EXPECT_EQ(result.status, 0) << result.output;
    const std::string report = "ERROR: No VT drives found - Unable to find a VT service on any resource on machine ";
    const std::size_t at = result.output.find(report);
    ASSERT_NE(at, std::string::npos) << result.output;
    const std::size_t end = result.output.find('\n', at);
    ASSERT_NE(end, std::string::npos) << result.output;
    const std::string machine = result.output.substr(at + report.size(), end - at - report.size());
    EXPECT_EQ(machine.find_first_not_of("0123456789"), std::string::npos) << machine;
    // Run without root, the report is followed by a note of its own line first.
    std::size_t next = end + 1;
    if (result.output.compare(next, 6, "NOTE: ") == 0)
        next = result.output.find('\n', next) + 1;
    EXPECT_EQ(result.output.compare(next, 6, "INFO: "), 0) << result.output;
}

}  // namespace
}  // namespace firmstep
