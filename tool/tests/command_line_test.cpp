#include "command_line.h"
#include "exit_status.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace firmstep {
namespace {

// Parses "firmstep <args...>" into fresh options and state.
struct Parsed {
    ToolOptions options;
    RunState state;
    ParseResult result;
    std::vector<std::string> storage;
};

Parsed Parse(std::initializer_list<std::string> args)
{
    Parsed parsed;
    parsed.storage.push_back("firmstep");
    parsed.storage.insert(parsed.storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : parsed.storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    parsed.result = ParseCommandLine(static_cast<int>(argv.size()) - 1, argv.data(), parsed.options, parsed.state);
    return parsed;
}

// The drive numbers a "-dev" value marked.
std::vector<std::uint32_t> SelectedRows(const RunState& state)
{
    std::vector<std::uint32_t> rows;
    for (std::uint32_t i = 0; i < kDriveTableCapacity; ++i)
        if ((state.drives.rows[i].marks & kMarkSelected) != 0)
            rows.push_back(i);
    return rows;
}

TEST(CommandLine, FirmwareFileAloneKeepsEveryDefault)
{
    Parsed p = Parse({"image.bin"});
    ASSERT_EQ(p.result.outcome, ParseOutcome::Proceed);
    EXPECT_STREQ(p.options.firmwareFile, "image.bin");
    EXPECT_EQ(p.state.flags, kFlagFirmwareFile);
    EXPECT_EQ(p.options.modelFile, nullptr);
    EXPECT_EQ(p.options.configFile, nullptr);
    EXPECT_EQ(p.options.requestedTransferLength, 0);
    EXPECT_EQ(p.options.acceptedTransferLength, 0);
    EXPECT_EQ(p.options.retries, 1u);
    EXPECT_EQ(p.options.sasMode, 7);
    EXPECT_EQ(p.options.nvmeSlot, 0);
    EXPECT_EQ(p.options.nvmeCommitAction, 0);
    EXPECT_EQ(p.options.exitDelaySeconds, 0);
    EXPECT_EQ(p.state.sdsbPort, 0);
}

TEST(CommandLine, EverySwitchSetsItsOptionOrFlag)
{
    Parsed p = Parse({"-batch_mode", "-cs", "4096", "-debug", "-dma", "-exit_delay", "5", "-list",
                      "-dev", "1,3-4", "-model", "models.txt", "-sas_mode", "300", "-sdsb=1", "-cfg",
                      "other.ini", "-nvme_slot", "256", "-nvme_ca", "7", "-retries", "100", "-report", "r.json"});
    ASSERT_EQ(p.result.outcome, ParseOutcome::Proceed) << p.result.message;
    EXPECT_EQ(p.options.requestedTransferLength, 4096);
    EXPECT_EQ(p.options.acceptedTransferLength, 4096);
    EXPECT_EQ(p.options.exitDelaySeconds, 5);
    EXPECT_EQ(SelectedRows(p.state), (std::vector<std::uint32_t>{1, 3, 4}));  // "-dev" took "1,3-4"
    EXPECT_STREQ(p.options.modelFile, "models.txt");
    EXPECT_EQ(p.options.sasMode, 300 & 0xFF);  // low 8 bits, no range check
    EXPECT_EQ(p.state.sdsbPort, 1);
    EXPECT_STREQ(p.options.configFile, "other.ini");
    EXPECT_EQ(p.options.nvmeSlot, 0);  // 256 reduced to 0 and accepted
    EXPECT_EQ(p.options.nvmeCommitAction, 7);
    EXPECT_EQ(p.options.retries, 100u);
    EXPECT_STREQ(p.options.reportFile, "r.json");
    EXPECT_EQ(p.options.firmwareFile, nullptr);
    EXPECT_EQ(p.state.flags, kFlagBatchMode | kFlagDebug | kFlagDma | kFlagListOnly | kFlagDeviceList |
                                 kFlagModelMode | kFlagSasModeGiven | kFlagConfigFileGiven |
                                 kFlagNvmeSlotGiven | kFlagNvmeCommitActionGiven);
}

TEST(CommandLine, FlagBitsAccumulateAndIgnoreUnknownBits)
{
    EXPECT_EQ(Parse({"-flags", "1", "-flags", "2"}).state.flags, kFlagDeferredDownload | kFlagActivate);
    EXPECT_EQ(Parse({"-flags", "4"}).state.flags, kFlagNvmeReset);
    EXPECT_EQ(Parse({"-flags", "0xff"}).state.flags, 0u);  // atoi reads the 0 only
    EXPECT_EQ(Parse({"-flags", "8"}).state.flags, 0u);
    EXPECT_EQ(Parse({"-flags", "15"}).state.flags, kFlagDeferredDownload | kFlagActivate | kFlagNvmeReset);
}

TEST(CommandLine, OperationWordFollowsTheFlags)
{
    EXPECT_STREQ(OperationWord(0), "downloaded");
    EXPECT_STREQ(OperationWord(kFlagDeferredDownload), "downloaded");
    EXPECT_STREQ(OperationWord(kFlagActivate), "activated");
    EXPECT_STREQ(OperationWord(kFlagDeferredDownload | kFlagActivate), "downloaded and activated");
}

TEST(CommandLine, SwitchesMatchByPrefixInTableOrder)
{
    Parsed dev = Parse({"-devices", "2"});
    EXPECT_TRUE(dev.state.Has(kFlagDeviceList));
    EXPECT_EQ(SelectedRows(dev.state), std::vector<std::uint32_t>{2});

    // -cs4096 is "-cs" and still takes its value from the next argument.
    Parsed cs = Parse({"-cs4096", "8192"});
    ASSERT_EQ(cs.result.outcome, ParseOutcome::Proceed);
    EXPECT_EQ(cs.options.acceptedTransferLength, 8192);

    EXPECT_TRUE(Parse({"-listing"}).state.Has(kFlagListOnly));
    EXPECT_TRUE(Parse({"-debugger"}).state.Has(kFlagDebug));
    EXPECT_EQ(Parse({"-retries5", "3"}).options.retries, 3u);
    EXPECT_STREQ(Parse({"-reports", "a.json", "-report", "b.json"}).options.reportFile, "b.json");

    // Case sensitive: -LIST is no switch.
    EXPECT_EQ(Parse({"-LIST"}).result.outcome, ParseOutcome::Error);
}

TEST(CommandLine, ValueSwitchTakesTheNextArgumentWhateverItLooksLike)
{
    Parsed p = Parse({"-cfg", "-list", "-model", "-debug"});
    ASSERT_EQ(p.result.outcome, ParseOutcome::Proceed);
    EXPECT_STREQ(p.options.configFile, "-list");
    EXPECT_STREQ(p.options.modelFile, "-debug");
    EXPECT_FALSE(p.state.Has(kFlagListOnly));
    EXPECT_FALSE(p.state.Has(kFlagDebug));
}

TEST(CommandLine, DriverIndexSwitchSetsTheEnvironmentAndConsumesNothing)
{
    ::unsetenv("VT_DRIVER_INDEX");
    Parsed p = Parse({"-p=0,1", "image.bin"});
    ASSERT_EQ(p.result.outcome, ParseOutcome::Proceed);
    EXPECT_STREQ(p.options.firmwareFile, "image.bin");
    const char* value = std::getenv("VT_DRIVER_INDEX");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "0,1");

    Parse({"-p="});
    value = std::getenv("VT_DRIVER_INDEX");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "");
    ::unsetenv("VT_DRIVER_INDEX");
}

TEST(CommandLine, LaterFirmwareFileReplacesEarlierOne)
{
    Parsed p = Parse({"first.bin", "-list", "second.bin"});
    EXPECT_STREQ(p.options.firmwareFile, "second.bin");
    EXPECT_TRUE(p.state.Has(kFlagFirmwareFile));
}

TEST(CommandLine, HelpOnlyInFirstPosition)
{
    EXPECT_EQ(Parse({}).result.outcome, ParseOutcome::Help);
    for (const char* first : {"-h", "-hx", "-help", "-?", "-?x"}) {
        Parsed p = Parse({first, "-bogus"});
        EXPECT_EQ(p.result.outcome, ParseOutcome::Help) << first;
        EXPECT_EQ(p.result.exitStatus, kExitSuccess);
    }
    Parsed late = Parse({"image.bin", "-help"});
    EXPECT_EQ(late.result.outcome, ParseOutcome::Error);
    EXPECT_EQ(late.result.exitStatus, kExitCommandLineError);
    EXPECT_EQ(late.result.message, "ERROR: Invalid command line switch:\n-help\n");
}

TEST(CommandLine, TransferLengthIsStoredEvenWhenRejected)
{
    Parsed negative = Parse({"-cs", "-512"});
    EXPECT_EQ(negative.result.outcome, ParseOutcome::Error);
    EXPECT_EQ(negative.options.requestedTransferLength, -512);
    EXPECT_EQ(negative.options.acceptedTransferLength, 0);

    Parsed odd = Parse({"-cs", "1000"});  // judged later, against the drives found
    EXPECT_EQ(odd.result.outcome, ParseOutcome::Proceed);
    EXPECT_EQ(odd.options.acceptedTransferLength, 1000);
}

TEST(CommandLine, FirstErrorEndsParsingAndKeepsWhatCameBefore)
{
    Parsed p = Parse({"-exit_delay", "3", "-bogus", "-cs", "512", "-also-bogus"});
    EXPECT_EQ(p.result.outcome, ParseOutcome::Error);
    EXPECT_EQ(p.result.message, "ERROR: Invalid command line switch:\n-bogus\n");
    EXPECT_EQ(p.options.exitDelaySeconds, 3);
    EXPECT_EQ(p.options.acceptedTransferLength, 0);
}

TEST(CommandLine, HostileArgumentsAreHandledWhole)
{
    const std::string longNumber(100000, '9');
    EXPECT_EQ(Parse({"-exit_delay", longNumber}).options.exitDelaySeconds, 2147483647);
    EXPECT_EQ(Parse({"-exit_delay", "-" + longNumber}).options.exitDelaySeconds, -2147483647 - 1);
    Parsed cs = Parse({"-cs", "-" + longNumber});
    EXPECT_EQ(cs.result.message,
              "ERROR: Firmware WAS NOT downloaded - incompatible '-cs <n>' specified '-" + longNumber + "'\n");

    const std::string longName(100000, 'f');
    EXPECT_EQ(std::string(Parse({longName}).options.firmwareFile), longName);
}

}  // namespace
}  // namespace firmstep
