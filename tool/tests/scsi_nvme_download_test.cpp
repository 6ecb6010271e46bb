// The SCSI and NVMe updates as the drive receives them: WRITE BUFFER segments
// and modes, Firmware Image Download dwords, commit, reset and their warnings.
#include "download_test_support.h"
#include "drive_identity.h"
#include "exit_status.h"
#include "nvme_admin.h"
#include "nvme_update.h"
#include "scsi_update.h"

#include <device_contracts.h>

#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

namespace firmstep::test {
namespace {

constexpr AccessPath kPath{30, 31};

std::uint32_t CdbNumber(const ScsiCommandBlock& block, int first)
{
    return std::uint32_t{block.cdb[first]} << 16 | std::uint32_t{block.cdb[first + 1]} << 8 | block.cdb[first + 2];
}

class ScsiDownloadTest : public DriveStepFixture {
protected:
    void SetUp() override
    {
        drive_.kind = BusKind::Scsi;
        drive_.model = "VT SAS1";
        drive_.libraryLimit = 0x8000;
        fake_.Attach(kPath, drive_);
        Discover({{BusKind::Scsi, {kPath}, &drive_}});
    }
    DownloadDrive drive_;
};

TEST_F(ScsiDownloadTest, ImageGoesAsWriteBufferSegmentsOfTheDefaultLength)
{
    const std::string file = WriteImage("fw.bin", 40000);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 3u);
    const std::uint32_t offsets[] = {0, 16384, 32768};
    const std::uint32_t lengths[] = {16384, 16384, 7232};
    std::vector<std::uint8_t> all;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto block = sent[i].As<ScsiCommandBlock>();
        EXPECT_EQ(block.direction, SCSI_DIRECTION_OUT);
        EXPECT_EQ(block.cdbLength, 10);
        EXPECT_EQ(block.cdb[0], 0x3B);
        EXPECT_EQ(block.cdb[1], 7);
        EXPECT_EQ(block.cdb[2], 0);
        EXPECT_EQ(CdbNumber(block, 3), offsets[i]);
        EXPECT_EQ(CdbNumber(block, 6), lengths[i]);
        EXPECT_EQ(block.cdb[9], 0);
        EXPECT_EQ(sent[i].dataLength, lengths[i]);
        EXPECT_EQ(sent[i].tag, CV_COMMAND_TAG_NONE);
        all.insert(all.end(), sent[i].dataSent.begin(), sent[i].dataSent.end());
    }
    EXPECT_EQ(all, ImageBytes());
    EXPECT_EQ(sent[1].data, sent[0].data + 16384);  // straight from the loaded image
    EXPECT_EQ(fake_.Sleeps(), std::vector<std::uint32_t>{2000});  // before the refresh
    EXPECT_EQ(Output(), "Device 0 = VT SAS1  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 16384) ...\n"
                        "  SUCCESS: Firmware download completed successfully\n"
                        "  VT SAS1  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
}

TEST_F(ScsiDownloadTest, SasModeKeepsItsLowFiveBits)
{
    const std::string file = WriteImage("fw.bin", 101);
    options_.firmwareFile = file.c_str();
    options_.sasMode = 46;
    state_->flags = kFlagFirmwareFile | kFlagSasModeGiven;
    Step(0);
    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].As<ScsiCommandBlock>().cdb[1], 14);
    // The image is padded to whole 32-bit words.
    EXPECT_EQ(CdbNumber(sent[0].As<ScsiCommandBlock>(), 6), 104u);
}

TEST_F(ScsiDownloadTest, ActivateAloneSendsOnlyModeFifteen)
{
    state_->flags = kFlagActivate;
    Step(0);
    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 1u);
    const auto block = sent[0].As<ScsiCommandBlock>();
    EXPECT_EQ(block.direction, SCSI_DIRECTION_NONE);
    EXPECT_EQ(block.cdbLength, 10);
    const std::uint8_t expected[10] = {0x3B, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(expected, expected + 10, block.cdb));
    EXPECT_EQ(sent[0].dataLength, 0u);
    EXPECT_EQ(fake_.Sleeps(), std::vector<std::uint32_t>{2000});
    // The refresh follows the activation: three INQUIRY commands.
    const auto& all = fake_.Sent();
    ASSERT_GE(all.size(), 3u);
    for (std::size_t i = all.size() - 3; i < all.size(); ++i)
        EXPECT_EQ(all[i].As<ScsiCommandBlock>().cdb[0], 0x12);
    EXPECT_EQ(Output(), "Device 0 = VT SAS1  SN0001  FW OLD1\n"
                        "  Activating firmware...\n"
                        "  SUCCESS: Activate firmware completed successfully\n"
                        "  VT SAS1  SN0001  FW NEW2\n"
                        "\n");
}

TEST_F(ScsiDownloadTest, RefusalCarriesTheStatusAndDebugShowsSense)
{
    const std::string file = WriteImage("fw.bin", 1000);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile | kFlagDebug;
    drive_.refuseAllDownloads = true;
    Step(0);
    EXPECT_EQ(Output(), "Device 0 = VT SAS1  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 16384) ...\n"
                        " parameters.dataLengths[ 1 ]=1000\n"
                        "SCSI CDB[0]= 59 (0x3B)\n"
                        "SCSI CDB[1]= 7 (0x07)\n"
                        "SCSI CDB[2]= 0 (0x00)\n"
                        "SCSI CDB[3]= 0 (0x00)\n"
                        "SCSI CDB[4]= 0 (0x00)\n"
                        "SCSI CDB[5]= 0 (0x00)\n"
                        "SCSI CDB[6]= 0 (0x00)\n"
                        "SCSI CDB[7]= 3 (0x03)\n"
                        "SCSI CDB[8]= 232 (0xE8)\n"
                        "SCSI CDB[9]= 0 (0x00)\n"
                        "SCSI Status = 2\n"
                        "SCSI Sense[0]= 112 (0x70)\n"
                        "SCSI Sense[1]= 0 (0x0)\n"
                        "SCSI Sense[2]= 5 (0x5)\n"
                        "\n"
                        "  FAILURE: Firmware download failed\n"
                        "  Error Code: 2\n");
    EXPECT_EQ(failures_, 1);
}

TEST_F(ScsiDownloadTest, RefusedActivationAndUndeliveredActivation)
{
    drive_.refuseAllActivations = true;
    EXPECT_EQ(ScsiActivate(kFakeMachine, kPath, false, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware activate failed");
    EXPECT_EQ(error_.code, 2);

    // A library that could not deliver leaves status 0xFF: reported as the code.
    drive_.failCalls = true;
    EXPECT_EQ(ScsiActivate(kFakeMachine, kPath, false, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware activate failed");
    EXPECT_EQ(error_.code, -1);
}

// A command met by UNIT ATTENTION was not performed: it is sent again, up to
// three times. A fourth one in a row is the device's answer, with its status;
// an INQUIRY that never got through fails the identity read instead of
// reading the untouched buffer as the drive's identity.
TEST_F(ScsiDownloadTest, UnitAttentionIsSentAgainThreeTimesAtMost)
{
    drive_.unitAttentions = 3;
    EXPECT_EQ(ScsiActivate(kFakeMachine, kPath, false, error_), 1);
    EXPECT_EQ(fake_.Sent().size(), 4u);
    drive_.unitAttentions = 4;
    EXPECT_EQ(ScsiActivate(kFakeMachine, kPath, false, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware activate failed");
    EXPECT_EQ(error_.code, 2);

    drive_.unitAttentions = 4;
    std::vector<std::uint8_t> image(512);
    EXPECT_EQ(ScsiDownload(kFakeMachine, kPath, image, 512, 7, false, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware download failed");

    drive_.unitAttentions = 4;
    DriveIdentity identity{};
    EXPECT_EQ(ReadScsiIdentity(kFakeMachine, kPath, identity, error_), 0);
    EXPECT_STREQ(error_.message, "INQUIRY failed; the device keeps reporting unit attention");
}

TEST_F(ScsiDownloadTest, ImagesOfSixteenMebibytesAreRefusedBeforeAnyCommand)
{
    const std::filesystem::path big = dir_.path() / "big.bin";
    WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 16 * 1024 * 1024), 0);
    options_.firmwareFile = big.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    EXPECT_TRUE(fake_.FirmwareCommands().empty());
    EXPECT_NE(Output().find("  FAILURE: Firmware download failed; firmware file '" + big.string() +
                            "' is 16777216 bytes long, more than the 16777215 bytes a SCSI download can carry\n"
                            "  Error Code: 4\n"),
              std::string::npos);
    EXPECT_EQ(failures_, 1);

    CvError error{};
    EXPECT_TRUE(CheckScsiDownload("fw", 0xFFFFFF, 16384, error));
}

class NvmeDownloadTest : public DriveStepFixture {
protected:
    void SetUp() override
    {
        drive_.kind = BusKind::Nvme;
        drive_.model = "VT NVMe 960";
        fake_.Attach(kPath, drive_);
        Discover({{BusKind::Nvme, {kPath}, &drive_}});
        SetNvmeCommandNumber(100);
    }
    DownloadDrive drive_;
};

TEST_F(NvmeDownloadTest, DownloadCommitAndReset)
{
    const std::string file = WriteImage("fw.bin", 10000);
    options_.firmwareFile = file.c_str();
    options_.nvmeSlot = 1;
    options_.nvmeCommitAction = 1;
    state_->flags = kFlagFirmwareFile | kFlagActivate | kFlagNvmeReset;
    Step(0);

    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 5u);
    const std::uint32_t dword10[] = {1023, 1023, 451};
    const std::uint32_t dword11[] = {0, 1024, 2048};
    std::vector<std::uint8_t> all;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto block = sent[i].As<NvmeCommandBlock>();
        EXPECT_EQ(sent[i].function, NVME_DEVICE_FUNCTION_ADMIN_COMMAND);
        EXPECT_EQ(+block.submission.opcode, 0x11);
        EXPECT_EQ(+block.submission.namespaceId, 0u);
        EXPECT_EQ(+block.submission.cdw10, dword10[i]);
        EXPECT_EQ(+block.submission.cdw11, dword11[i]);
        EXPECT_EQ(+block.timeout, 60000000000ull);
        EXPECT_EQ(sent[i].dataLength, (dword10[i] + 1) * 4);
        all.insert(all.end(), sent[i].dataSent.begin(), sent[i].dataSent.end());
    }
    EXPECT_EQ(sent[1].tag, sent[0].tag + 1);  // one running command number
    EXPECT_EQ(all, ImageBytes());
    const auto commit = sent[3].As<NvmeCommandBlock>();
    EXPECT_EQ(+commit.submission.opcode, 0x10);
    EXPECT_EQ(+commit.submission.cdw10, 9u);  // action 1 x 8 + slot 1
    EXPECT_EQ(sent[3].dataLength, 0u);
    EXPECT_EQ(sent[4].function, NVME_DEVICE_FUNCTION_CONTROLLER_RESET);
    EXPECT_EQ(sent[4].tag, 0u);
    EXPECT_TRUE(sent[4].block.empty());
    EXPECT_EQ(Output(), "Device 0 = VT NVMe 960  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 4096) ...\n"
                        "  SUCCESS: Firmware image download completed successfully\n"
                        "  SUCCESS: NVMe firmware commit completed successfully\n"
                        "  SUCCESS: NVMe reset completed successfully\n"
                        "  VT NVMe 960  SN0001  FW NEW2\n"
                        "\n");
    EXPECT_EQ(successes_, 1);
}

TEST_F(NvmeDownloadTest, WithoutActivateTheImageIsNotCommitted)
{
    const std::string file = WriteImage("fw.bin", 4096);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile;
    Step(0);
    const auto sent = fake_.FirmwareCommands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(+sent[0].As<NvmeCommandBlock>().submission.opcode, 0x11);
}

TEST_F(NvmeDownloadTest, WarningsForNoDownloadSupportAndMissingSlot)
{
    drive_.nvmeFirmwareUpdate = 0;
    Discover({{BusKind::Nvme, {kPath}, &drive_}});
    state_->flags = kFlagActivate;
    options_.nvmeSlot = 2;
    Step(0);
    EXPECT_EQ(Output(), "Device 0 = VT NVMe 960  SN0001  FW OLD1\n"
                        "  WARNING: The device 0 reports that download is not supported, but trying anyway\n"
                        "  WARNING: The device 0 has 0 slots, but trying to commit to slot 2 anyway\n"
                        "  SUCCESS: NVMe firmware commit completed successfully\n"
                        "  VT NVMe 960  SN0001  FW NEW2\n"
                        "\n");
    ASSERT_EQ(fake_.FirmwareCommands().size(), 1u);
    EXPECT_EQ(+fake_.FirmwareCommands()[0].As<NvmeCommandBlock>().submission.cdw10, 2u);
}

TEST_F(NvmeDownloadTest, SlotAtTheSlotCountIsWarnedAndStillSent)
{
    drive_.nvmeFirmwareUpdate = 0x04;  // two slots
    Discover({{BusKind::Nvme, {kPath}, &drive_}});
    state_->flags = kFlagActivate;
    options_.nvmeSlot = 2;
    Step(0);
    EXPECT_NE(Output().find("  WARNING: The device 0 has 2 slots, but trying to commit to slot 2 anyway\n"),
              std::string::npos);
    EXPECT_EQ(fake_.FirmwareCommands().size(), 1u);
    EXPECT_EQ(successes_, 1);
}

TEST_F(NvmeDownloadTest, FailedDownloadStillPrintsTheRefreshedIdentity)
{
    const std::string file = WriteImage("fw.bin", 8192);
    options_.firmwareFile = file.c_str();
    state_->flags = kFlagFirmwareFile | kFlagActivate | kFlagNvmeReset | kFlagDebug;
    drive_.refuseAllDownloads = true;
    drive_.nvmeStatusField = 0x020E;  // invalid firmware image
    drive_.revision = "OLD3";         // what the refresh now reads
    Step(0);
    EXPECT_EQ(fake_.FirmwareCommands().size(), 1u);  // no commit, no reset
    EXPECT_EQ(Output(), "Device 0 = VT NVMe 960  SN0001  FW OLD1\n"
                        "  Downloading firmware (I/O transfer length = 4096) ...\n"
                        " offset 0h; length 1000h\n"
                        "  VT NVMe 960  SN0001  FW OLD3\n"
                        "\n"
                        "  FAILURE: Firmware image download failed\n"
                        "  Error Code: 7\n");
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(exitStatus_, kExitAllDrivesFailed);
}

TEST_F(NvmeDownloadTest, FailedResetFailsTheDriveAndFailedRefreshIsReported)
{
    drive_.failReset = true;
    state_->flags = kFlagNvmeReset;
    Step(0);
    EXPECT_EQ(failures_, 1);
    EXPECT_NE(Output().find("  FAILURE: Controller reset failed\n  Error Code: 2\n"), std::string::npos);

    drive_.failReset = false;
    drive_.failIdentify = true;
    Step(0);
    EXPECT_EQ(successes_, 1);
    EXPECT_NE(Output().find("  SUCCESS: NVMe reset completed successfully\n"
                            "  ERROR retrieving Identify data for Device 0: Identify refused\n"
                            "  Error Code: 2\n"),
              std::string::npos);
}

TEST_F(NvmeDownloadTest, TransferLengthOfPartialWordsIsRefusedBeforeAnyCommand)
{
    const std::string file = WriteImage("fw.bin", 4096);
    options_.firmwareFile = file.c_str();
    options_.acceptedTransferLength = 1002;
    state_->flags = kFlagFirmwareFile | kFlagActivate;
    Step(0);
    EXPECT_TRUE(fake_.FirmwareCommands().empty());
    EXPECT_NE(Output().find("  FAILURE: Firmware download failed; I/O transfer length 1002 is not a multiple of 4 "
                            "bytes\n  Error Code: 4\n"),
              std::string::npos);
    EXPECT_EQ(failures_, 1);
}

TEST_F(NvmeDownloadTest, CommitRefusalsAndCommitsThatNeedAReset)
{
    ActivationReset needed = ActivationReset::None;
    EXPECT_EQ(NvmeCommit(kFakeMachine, kPath, 8, 0, needed, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware commit failed; invalid slot or action");
    EXPECT_EQ(error_.code, 4);
    EXPECT_TRUE(fake_.Sent().empty());

    drive_.refuseAllActivations = true;
    drive_.nvmeStatusField = 0x020D;
    EXPECT_EQ(NvmeCommit(kFakeMachine, kPath, 1, 3, needed, error_), 0);
    EXPECT_STREQ(error_.message, "Firmware activate failed");
    EXPECT_EQ(error_.code, 6);
    EXPECT_EQ(needed, ActivationReset::None);

    // A status asking for a reset is a commit, also with do-not-retry set.
    drive_.refuseActivations = 1;
    drive_.refuseAllActivations = false;
    drive_.nvmeStatusField = (0x4000 | 0x10B) << 1 | NVME_PHASE_TAG;
    EXPECT_EQ(NvmeCommit(kFakeMachine, kPath, 1, 3, needed, error_), 1);
    EXPECT_EQ(needed, ActivationReset::Conventional);
}

}  // namespace
}  // namespace firmstep::test
