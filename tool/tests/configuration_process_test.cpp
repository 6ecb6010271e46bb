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

// The shipped firmstep.ini (next to the program) loads the local access
// plug-in from the plug-in directory and connects the local machine, so the
// run gets past the machine list to drive discovery.
TEST_F(FirmstepConfiguration, DefaultConfigurationReachesDiscovery)
{
    ASSERT_TRUE(std::filesystem::exists(std::string(FIRMSTEP_PLUGIN_DIR) + "/cvpl-local.so"));
    const test::ProgramResult result = test::RunProgram({"image.bin"}, dir_.path());
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.find("ERROR: Config file"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("There are no machines available"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace firmstep
