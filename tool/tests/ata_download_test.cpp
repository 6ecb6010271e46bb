// The ATA update as the drive receives it: DOWNLOAD MICROCODE segments, the
// deferred and activation subcommands, DMA, the second port, retries, refusals.
#include "ata_update.h"
#include "download_test_support.h"
#include "exit_status.h"
#include "model_strings.h"

#include <device_contracts.h>

#include <gtest/gtest.h>

#include <cstring>

namespace firmstep::test {
namespace {

constexpr AccessPath kPath{10, 11};
constexpr AccessPath kSecondPath{20, 21};

class AtaDownloadTest : public DriveStepFixture {
protected:
    void SetUp() override
    {
        fake_.Attach(kPath, drive_);
        Discover({{BusKind::Ata, {kPath}, &drive_}});
    }

    // The data of every firmware command, joined in order.
    std::vector<std::uint8_t> DataSent() const
    {
        std::vector<std::uint8_t> all;
        for (const SentCommand& sent : fake_.FirmwareCommands())
            all.insert(all.end(), sent.dataSent.begin(), sent.dataSent.end());
        return all;
    }

    DownloadDrive drive_;
};

TEST_F(AtaDownloadTest, ImageGoesInSegmentsOfTheLibraryLimitWithBlockOffsets)
{
    // The drive reports no largest block count, so the 32 MiB start is lowered
    // to the library's 128 KiB: 256 blocks per command, the offset crossing into
    // LBA high from the second segment on.
    const std::string file = WriteImage("fw.bin", 600 * 512);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(SegmentOf(sent[0]), (AtaSegment{256, 0}));
    EXPECT_EQ(SegmentOf(sent[1]), (AtaSegment{256, 256}));
    EXPECT_EQ(SegmentOf(sent[2]), (AtaSegment{88, 512}));
    for (const SentCommand& command : sent) {
        const auto block = command.As<AtaCommandBlock>();
        EXPECT_EQ(command.function, DEVICE_FUNCTION_DO_COMMAND);
        EXPECT_EQ(command.tag, CV_COMMAND_TAG_NONE);
        EXPECT_EQ(block.protocol, ATA_PROTOCOL_PIO_OUT);
        EXPECT_EQ(block.command, 0x92);
        EXPECT_EQ(block.features, 0x03);
        EXPECT_EQ(+block.inputMask, 0xAAAu);
        EXPECT_EQ(+block.outputMask, 0xAABu);
        EXPECT_EQ(+block.timeOrTimeout, 60000000000ull);
        EXPECT_EQ(block.device, 0);
        EXPECT_EQ(block.featuresExp, 0);
        EXPECT_EQ(command.dataLength, SegmentOf(command).blocks * 512);
    }
    EXPECT_EQ(DataSent(), ImageBytes());
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 131072) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
    EXPECT_EQ(failures_, 0);
    EXPECT_EQ(exitStatus_, kExitSuccess);
    EXPECT_STREQ(state_->drives.rows[0].identity.firmwareRevision, "NEW2");
}

TEST_F(AtaDownloadTest, SegmentsPointIntoTheImageWithoutCopies)
{
    std::vector<std::uint8_t> image(5 * 512, 0x5A);
    AtaDownloadOptions options;
    ASSERT_EQ(AtaDownload(kFakeMachine, kPath, image, 1024, options, error_), 1);
    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].data, image.data());
    EXPECT_EQ(sent[1].data, image.data() + 1024);
    EXPECT_EQ(sent[2].data, image.data() + 2048);
    EXPECT_EQ(SegmentOf(sent[2]), (AtaSegment{1, 4}));
}

TEST_F(AtaDownloadTest, DeferredDownloadThenActivation)
{
    const std::string file = WriteImage("fw.bin", 4 * 512);
    options_.firmwareFile = file.c_str();
    options_.acceptedTransferLength = options_.requestedTransferLength = 1024;
    state_->flags = kFlagFirmwareFile | kFlagDeferredDownload | kFlagActivate;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].As<AtaCommandBlock>().features, 0x0E);
    EXPECT_EQ(sent[1].As<AtaCommandBlock>().features, 0x0E);
    EXPECT_EQ(SegmentOf(sent[1]), (AtaSegment{2, 2}));
    const auto activation = sent[2].As<AtaCommandBlock>();
    EXPECT_EQ(activation.protocol, ATA_PROTOCOL_NON_DATA);
    EXPECT_EQ(activation.features, 0x0F);
    EXPECT_EQ(activation.command, 0x92);
    EXPECT_EQ(+activation.inputMask, 0x802u);
    EXPECT_EQ(+activation.outputMask, 0xAABu);
    EXPECT_EQ(+activation.timeOrTimeout, 0u);
    EXPECT_EQ(sent[2].dataLength, 0u);
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 1024) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  Activating firmware...\n"
                        "  SUCCESS: Activate firmware completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
}

TEST_F(AtaDownloadTest, DmaUsesTheDmaCommandForDownloadAndActivation)
{
    const std::string file = WriteImage("fw.bin", 512);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile | kFlagDma | kFlagActivate;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].As<AtaCommandBlock>().protocol, ATA_PROTOCOL_DMA_OUT);
    EXPECT_EQ(sent[0].As<AtaCommandBlock>().command, 0x93);
    EXPECT_EQ(sent[0].As<AtaCommandBlock>().features, 0x03);
    EXPECT_EQ(sent[1].As<AtaCommandBlock>().protocol, ATA_PROTOCOL_NON_DATA);
    EXPECT_EQ(sent[1].As<AtaCommandBlock>().command, 0x93);
    EXPECT_EQ(successes_, 1);
}

TEST_F(AtaDownloadTest, SecondPortAddsDeviceAndExpandedFeatures)
{
    const std::string file = WriteImage("fw.bin", 512);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile | kFlagActivate;
    state_->sdsbPort = 1;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 2u);
    for (const SentCommand& command : sent) {
        EXPECT_EQ(command.As<AtaCommandBlock>().device, 0xA2);
        EXPECT_EQ(command.As<AtaCommandBlock>().featuresExp, 0x20);
    }
    EXPECT_EQ(+sent[0].As<AtaCommandBlock>().inputMask, 0xAAFu);
    EXPECT_EQ(+sent[1].As<AtaCommandBlock>().inputMask, 0x807u);
}

TEST_F(AtaDownloadTest, ActivationAloneWithoutAFirmwareFile)
{
    state_->flags = kFlagActivate;
    Step(0);
    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].As<AtaCommandBlock>().features, 0x0F);
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Activating firmware...\n"
                        "  SUCCESS: Activate firmware completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
}

TEST_F(AtaDownloadTest, RetriesRestartAtOffsetZeroAfterAPause)
{
    const std::string file = WriteImage("fw.bin", 4 * 512);
    options_.firmwareFile = file.c_str();
    options_.retries = 3;
    options_.acceptedTransferLength = 1024;
    state_->flags = kFlagFirmwareFile;
    drive_.refuseDownloads = 2;  // the first segment of the first two attempts
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(SegmentOf(sent[0]).offset, 0u);
    EXPECT_EQ(SegmentOf(sent[1]).offset, 0u);
    EXPECT_EQ(SegmentOf(sent[2]).offset, 0u);
    EXPECT_EQ(SegmentOf(sent[3]).offset, 2u);
    EXPECT_EQ(fake_.Sleeps(), (std::vector<std::uint32_t>{2000, 2000}));
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 1024) ...\n"
                        " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4\n"
                        "  Retry attempt 1\n"
                        " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4\n"
                        "  Retry attempt 2\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
}

TEST_F(AtaDownloadTest, EveryAttemptRefusedReportsTheErrorRegister)
{
    const std::string file = WriteImage("fw.bin", 2 * 512);
    options_.firmwareFile = file.c_str();
    options_.retries = 2;
    state_->flags = kFlagFirmwareFile | kFlagActivate;
    drive_.refuseAllDownloads = true;
    drive_.ataError = 0x10;
    Step(0);

    EXPECT_EQ(fake_.FirmwareCommands().size(), 2u);  // no activation after the failed download
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 131072) ...\n"
                        " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x10\n"
                        "  Retry attempt 1\n"
                        " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x10\n"
                        "\n"
                        "  FAILURE: Firmware download failed\n"
                        "  Error Code: 16\n");
    EXPECT_EQ(successes_, 0);
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(exitStatus_, kExitAllDrivesFailed);
}

TEST_F(AtaDownloadTest, RefusedActivationReportsActivationFailure)
{
    state_->flags = kFlagActivate;
    drive_.refuseAllActivations = true;
    Step(0);
    EXPECT_NE(Output().find("  FAILURE: Firmware activation failed\n  Error Code: 4\n"), std::string::npos);
    EXPECT_EQ(failures_, 1);
}

TEST_F(AtaDownloadTest, ErrorCountAndLbaLowAllOneIsARefusalDespiteGoodStatus)
{
    // Played through a drive that answers exactly so.
    struct OneAnswer {
        static int Execute(CvUID, CvUID, CvUID, CvCommand* command, CvError* error)
        {
            auto* sent = static_cast<AtaCommandBlock*>(command->buffers[0]);
            sent->outStatus = 0x50;
            sent->outError = 1;
            sent->outCount = 1;
            sent->outLbaLow = 1;
            return CvSetNoError(error);
        }
    };
    FrameworkCalls calls = Framework();
    calls.executeCommand = OneAnswer::Execute;
    ScopedFrameworkCalls scope(calls);
    std::vector<std::uint8_t> image(512);
    EXPECT_EQ(AtaDownload(kFakeMachine, kPath, image, 512, AtaDownloadOptions{}, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware download failed");
    EXPECT_EQ(error_.code, 1);
    EXPECT_EQ(Output(), " task file register status=0x50 lbaLow=0x1 secCount=0x1 error=0x1\n");
}

TEST_F(AtaDownloadTest, ImagesThatAreNotWholeBlocksAreRefusedBeforeAnyCommand)
{
    const std::string small = WriteImage("small.bin", 511);
    options_.firmwareFile = small.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    const std::string partial = WriteImage("partial.bin", 1000);
    options_.firmwareFile = partial.c_str();
    Step(0);

    EXPECT_TRUE(fake_.FirmwareCommands().empty());
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "\n"
                        "  FAILURE: Firmware download failed; firmware file '" + small + "' is too small\n"
                        "  Error Code: 4\n"
                        "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "\n"
                        "  FAILURE: Firmware download failed; firmware file '" + partial +
                        "' is 1000 bytes long, not a whole number of 512-byte blocks\n"
                        "  Error Code: 4\n");
    EXPECT_EQ(failures_, 2);
    EXPECT_EQ(successes_, 0);
}

TEST_F(AtaDownloadTest, OversizedImageAndSubBlockTransferLengthAreRefused)
{
    CvError error{};
    EXPECT_TRUE(CheckAtaDownload("fw", 65535ull * 512, 512, error));
    EXPECT_FALSE(CheckAtaDownload("fw", 65536ull * 512, 512, error));
    EXPECT_STREQ(error.message, "Firmware download failed; firmware file 'fw' is 33554432 bytes long, more than "
                                "the 65535 blocks of 512 bytes an ATA download can carry");
    EXPECT_EQ(error.code, 4);
    EXPECT_FALSE(CheckAtaDownload("fw", 1024, 511, error));
    EXPECT_STREQ(error.message, "Firmware download failed; I/O transfer length 511 is less than one 512-byte block");

    // A library that reports no data ability leaves a transfer length of 0.
    drive_.libraryLimit = 0;
    const std::string file = WriteImage("fw.bin", 1024);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    EXPECT_TRUE(fake_.FirmwareCommands().empty());
    EXPECT_EQ(failures_, 1);
}

TEST_F(AtaDownloadTest, TransferLengthWarningsForDeviceAndLibrary)
{
    drive_.maxDownloadBlocks = 128;  // 64 KiB
    Discover({{BusKind::Ata, {kPath}, &drive_}});
    const std::string file = WriteImage("fw.bin", 1024 * 512);
    options_.firmwareFile = file.c_str();
    options_.acceptedTransferLength = 262144;  // above both the drive's and the library's
    state_->flags = kFlagFirmwareFile;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(SegmentOf(sent[1]), (AtaSegment{512, 512}));
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  WARNING: Device 0 may not support this I/O transfer length, but trying anyway\n"
                        "  WARNING: Library for device 0 may not support this I/O transfer length, but trying anyway\n"
                        "  Downloading firmware (I/O transfer length = 262144) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
}

TEST_F(AtaDownloadTest, DebugPrintsEachSegment)
{
    const std::string file = WriteImage("fw.bin", 3 * 512);
    options_.firmwareFile = file.c_str();
    options_.acceptedTransferLength = 1024;
    state_->flags = kFlagFirmwareFile | kFlagDebug;
    Step(0);
    const std::string output = Output();
    EXPECT_NE(output.find("subCommandByte=3 nextCommandBlocks=2 downloadOffset=0 parameters.dataLengths[ 1 ]=1024\n"
                          "subCommandByte=3 nextCommandBlocks=1 downloadOffset=1024 parameters.dataLengths[ 1 ]=512\n"),
              std::string::npos)
        << output;
}

TEST_F(AtaDownloadTest, FailedPathIsFollowedByAFullSeriesOnTheNextPath)
{
    DownloadDrive broken = drive_;
    broken.failCalls = true;
    fake_.Attach(kPath, broken);
    fake_.Attach(kSecondPath, drive_);
    Discover({{BusKind::Ata, {kPath, kSecondPath}, &drive_}});
    const std::string file = WriteImage("fw.bin", 512);
    options_.firmwareFile = file.c_str();
    options_.retries = 2;
    state_->flags = kFlagFirmwareFile;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].resource, kPath.resource);
    EXPECT_EQ(sent[1].resource, kPath.resource);
    EXPECT_EQ(sent[2].resource, kSecondPath.resource);
    EXPECT_EQ(sent[0].data, sent[2].data);  // one image for both paths
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 131072) ...\n"
                        "  Retry attempt 1\n"
                        "\n"
                        "  Downloading firmware (I/O transfer length = 131072) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
    EXPECT_EQ(failures_, 0);
}

TEST_F(AtaDownloadTest, CallFailureOnEveryPathReportsTheLibraryMessage)
{
    drive_.failCalls = true;
    const std::string file = WriteImage("fw.bin", 512);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    EXPECT_NE(Output().find("\n  FAILURE: ATA_PASS_THROUGH ioctl failed: 5\n  Error Code: 2\n"), std::string::npos);
}

TEST_F(AtaDownloadTest, FailedIdentityRefreshDoesNotFailTheDrive)
{
    drive_.failIdentify = true;
    state_->flags = kFlagActivate;
    Step(0);
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Activating firmware...\n"
                        "  SUCCESS: Activate firmware completed successfully\n"
                        "  ERROR retrieving Identify Device data for Device 0: Identify refused\n"
                        "  Error Code: 2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
    EXPECT_STREQ(state_->drives.rows[0].identity.firmwareRevision, "OLD1");
}

TEST_F(AtaDownloadTest, MissingFirmwareFileFailsWithoutABlankLine)
{
    const std::string missing = (dir_.path() / "missing.bin").string();
    options_.firmwareFile = missing.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  FAILURE: Cannot find firmware file '" + missing + "'\n"
                        "  Error Code: 2\n");
    EXPECT_EQ(failures_, 1);
}

TEST_F(AtaDownloadTest, UnselectedRowIsLeftAlone)
{
    state_->explicitSelection = true;
    state_->flags = kFlagActivate;
    Step(0);
    EXPECT_TRUE(fake_.Sent().empty());
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(successes_ + failures_, 0);
    EXPECT_EQ(exitStatus_, -1);
}

TEST_F(AtaDownloadTest, ModelModeTakesTheEntrysFileOrSkipsTheDrive)
{
    ModelTable& table = RunModelTable();
    table = ModelTable{};
    table.count = 1;
    std::strcpy(table.entries[0].model, "VT1000");
    std::strcpy(table.entries[0].firmwareRevision, "NEW2");
    const std::string missing = (dir_.path() / "nope.bin").string();
    std::snprintf(table.entries[0].firmwareFile, sizeof table.entries[0].firmwareFile, "%s", missing.c_str());
    state_->flags = kFlagModelMode;

    Step(0);  // the listed file cannot be opened
    const std::string file = WriteImage("model.bin", 512);
    std::snprintf(table.entries[0].firmwareFile, sizeof table.entries[0].firmwareFile, "%s", file.c_str());
    Step(0);  // downloads the listed file; the drive is now at NEW2
    Step(0);  // already at the listed revision: nothing to do
    table = ModelTable{};

    EXPECT_EQ(Output(), "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  ERROR: Firmware WAS NOT downloaded - cannot open firmware file '" + missing + "'\n"
                        "\n"
                        "Device 0 = VT1000  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 131072) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT1000  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(fake_.FirmwareCommands().size(), 1u);
    EXPECT_EQ(successes_, 1);
    EXPECT_EQ(failures_, 0);
}

}  // namespace
}  // namespace firmstep::test
