// Runs the built firmstep and checks its console output and exit status.
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace firmstep {
namespace {

using test::ExpectedBanner;
using test::ReadFile;
using test::RunProgram;

class FirmstepProgram : public ::testing::Test {
protected:
    test::ProgramResult Run(const std::vector<std::string>& args) { return RunProgram(args, dir_.path()); }

    static std::string GoldenHelp() { return ReadFile(std::string(FIRMSTEP_GOLDEN_DIR) + "/help_output.txt"); }

    test::TempDir dir_;
};

TEST_F(FirmstepProgram, NoArgumentPrintsBannerAndHelp)
{
    const std::string golden = GoldenHelp();
    ASSERT_FALSE(golden.empty());
    const test::ProgramResult result = Run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, golden);
}

TEST_F(FirmstepProgram, HelpSwitchInFirstPositionPrintsHelp)
{
    const std::string golden = GoldenHelp();
    for (const char* first : {"-h", "-hx", "-help", "-?"}) {
        const test::ProgramResult result = Run({first, "-bogus"});
        EXPECT_EQ(result.status, 0) << first;
        EXPECT_EQ(result.output, golden) << first;
    }
}

TEST_F(FirmstepProgram, HelpSwitchLaterIsAnInvalidSwitch)
{
    const test::ProgramResult result = Run({"image.bin", "-help"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, ExpectedBanner() + "ERROR: Invalid command line switch:\n-help\n");
}

// Every command-line error: its exact text after the banner, and status 1.
TEST_F(FirmstepProgram, CommandLineErrors)
{
    const std::string notDownloaded = "ERROR: Firmware WAS NOT downloaded - ";
    const std::string neither = "ERROR: Firmware WAS NOT downloaded/activated - ";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-cs"}, notDownloaded + "no I/O transfer length specified with '-cs'\n"},
        {{"-cs", "0"}, notDownloaded + "incompatible '-cs <n>' specified '0'\n"},
        {{"-cs", "abc"}, notDownloaded + "incompatible '-cs <n>' specified 'abc'\n"},
        {{"-cs", "-4096"}, notDownloaded + "incompatible '-cs <n>' specified '-4096'\n"},
        {{"-exit_delay"}, neither + "no 'seconds' specified with '-exit_delay'\n"},
        {{"-flags"}, neither + "no 'bitmask' specified with '-flags'\n"},
        {{"-dev"}, neither + "no 'devlist' specified with '-dev'\n"},
        {{"-log"}, neither + "no log file 'lFile' was specified with '-log'\n"},
        {{"-model"}, neither + "no model string file 'mFile' was specified with '-model'\n"},
        {{"-sas_mode"}, neither + "no SAS mode value was specified with '-sas_mode'\n"},
        {{"-cfg"}, neither + "no configuration file 'cFile' was specified '-cfg'\n"},
        {{"-nvme_slot"}, neither + "no NVMe slot value was specified with '-nvme_slot'\n"},
        {{"-nvme_slot", "8"}, neither + "illegal NVMe slot value (8) was specified with '-nvme_slot'\n"},
        {{"-nvme_slot", "264"}, neither + "illegal NVMe slot value (8) was specified with '-nvme_slot'\n"},
        {{"-nvme_slot", "-1"}, neither + "illegal NVMe slot value (255) was specified with '-nvme_slot'\n"},
        {{"-nvme_ca"}, neither + "no NVMe commit action value was specified with '-nvme_ca'\n"},
        {{"-nvme_ca", "8"}, neither + "illegal NVMe commit action value (8) was specified with '-nvme_ca'\n"},
        {{"-retries"}, neither + "no retries value was specified with '-retries'\n"},
        {{"-retries", "0"}, neither + "retries must be between 1 and 100"},
        {{"-retries", "101"}, neither + "retries must be between 1 and 100"},
        {{"-retries", "x"}, neither + "retries must be between 1 and 100"},
        {{"-report"}, neither + "no report file 'rFile' was specified with '-report'\n"},
        {{"-bogus"}, "ERROR: Invalid command line switch:\n-bogus\n"},
        {{"-p"}, "ERROR: Invalid command line switch:\n-p\n"},
        {{"-"}, "ERROR: Invalid command line switch:\n-\n"},
        // "-p=" takes nothing from the next argument, so the next one is judged itself.
        {{"-p=0,1", "-nonsense"}, "ERROR: Invalid command line switch:\n-nonsense\n"},
        // A value switch at the end, after valid ones.
        {{"image.bin", "-list", "-cfg"}, neither + "no configuration file 'cFile' was specified '-cfg'\n"},
    };
    for (const Case& c : cases) {
        const test::ProgramResult result = Run(c.args);
        EXPECT_EQ(result.status, 1) << c.args.front();
        EXPECT_EQ(result.output, ExpectedBanner() + c.message) << c.args.front();
    }
}

// Values at the edge of what the parser accepts let the run go on to the
// configuration step, which a broken configuration file in the current
// directory ends at once (status 4) instead of starting the framework's plug-ins.
TEST_F(FirmstepProgram, AcceptedLimitsRunOn)
{
    test::WriteFile(dir_.path() / "firmstep.ini", "[Corvane]\nPlugins\n");
    const std::string configurationError =
        "\nERROR: Config file - Line 2: Malformed section entry (unable to find '=' symbol): 'Plugins'\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"image.bin", "-retries", "100"},
             {"image.bin", "-nvme_slot", "256"},
             {"image.bin", "-cs4096", "1000"},
             {"-p=0,1", "image.bin"},
             {"image.bin", "-exit_delay", "-5"},
         }) {
        const test::ProgramResult result = Run(args);
        EXPECT_EQ(result.status, 4) << args[1];
        EXPECT_EQ(result.output, ExpectedBanner() + configurationError) << args[1];
    }
}

TEST_F(FirmstepProgram, LogFileReceivesTheBannerAndIsAppended)
{
    const std::string log = (dir_.path() / "run.log").string();
    const test::ProgramResult first = Run({"-log", log, "-bogus"});
    EXPECT_EQ(first.status, 1);
    // The banner goes into the log file only; the error goes to both.
    const std::string error = "ERROR: Invalid command line switch:\n-bogus\n";
    EXPECT_EQ(first.output, ExpectedBanner() + error);
    EXPECT_EQ(ReadFile(log), ExpectedBanner() + error);

    const test::ProgramResult second = Run({"-log", log, "-bogus"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(ReadFile(log), ExpectedBanner() + error + ExpectedBanner() + error);
}

TEST_F(FirmstepProgram, SecondLogSwitchWritesTheBannerAgainIntoTheFirstFile)
{
    const std::string first = (dir_.path() / "first.log").string();
    const std::string second = (dir_.path() / "second.log").string();
    const test::ProgramResult result = Run({"-log", first, "-log", second, "-retries", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ReadFile(first), ExpectedBanner() + ExpectedBanner() +
                                   "ERROR: Firmware WAS NOT downloaded/activated - retries must be between 1 and 100");
    EXPECT_FALSE(std::filesystem::exists(second));
}

TEST_F(FirmstepProgram, VeryLongArgumentIsReportedWhole)
{
    const std::string longSwitch = "-" + std::string(100000, 'z');
    const test::ProgramResult bad = Run({longSwitch});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, ExpectedBanner() + "ERROR: Invalid command line switch:\n" + longSwitch + "\n");
}

}  // namespace
}  // namespace firmstep
