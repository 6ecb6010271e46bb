// Firmware downloads through CvResourceServiceProxy_ExecuteCommand on a
// cv-local machine: what a real drive accepts, refuses and reports.
#include <gtest/gtest.h>

#include "sim_farm.h"
#include "test_farm.h"

namespace simdrive_plugin_test {
namespace {

constexpr uint8_t kDownloadWithOffsets = 0x03;
constexpr uint8_t kDownloadDeferred = 0x0E;
constexpr uint8_t kAtaStatusGood = 0x50;
constexpr uint8_t kAtaStatusError = 0x51;
constexpr uint8_t kAtaAbort = 0x04;

void expectAtaAbort(const AtaCommandBlock& block) {
    EXPECT_EQ(block.outStatus, kAtaStatusError);
    EXPECT_EQ(block.outError, kAtaAbort);
}

class SimDriveDownloadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(farm.configured()) << farm.configureError().message; }

    SimFarm farm{kFarmSettings};
    // 118 blocks of 512 bytes for the ATA drive, which takes at most 64 per segment.
    std::vector<uint8_t> ataImage = makeImage("VT-2000", "VT02", 60000);
};

TEST_F(SimDriveDownloadTest, AtaSegmentedDownloadChangesTheIdentifiedRevision) {
    ASSERT_EQ(ataImage.size(), 118u * 512);
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT01");
    AtaCommandBlock block = ataSegment(farm, "simdrive:ata0", kDownloadWithOffsets, ataImage, 0, 64);
    EXPECT_EQ(block.outStatus, kAtaStatusGood);
    EXPECT_EQ(block.outCount, 0x01);  // more segments expected
    EXPECT_EQ(block.resultFlags, ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID);
    block = ataSegment(farm, "simdrive:ata0", kDownloadWithOffsets, ataImage, 64, 54);
    EXPECT_EQ(block.outStatus, kAtaStatusGood);
    EXPECT_EQ(block.outCount, 0x02);  // saved and applied
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT02");
}

TEST_F(SimDriveDownloadTest, AtaRefusalsAbortWithoutChangingTheFirmware) {
    // A gap between segments.
    EXPECT_EQ(ataSegment(farm, "simdrive:ata0", kDownloadWithOffsets, ataImage, 0, 32).outStatus, kAtaStatusGood);
    expectAtaAbort(ataSegment(farm, "simdrive:ata0", kDownloadWithOffsets, ataImage, 64, 32));
    // A segment above the drive's largest block count (IDENTIFY word 235).
    expectAtaAbort(ataSegment(farm, "simdrive:ata0", kDownloadWithOffsets, ataImage, 0, 65));
    // Activation with nothing saved.
    expectAtaAbort(ataActivate(farm, "simdrive:ata0"));
    // A damaged payload is refused when the image is complete.
    std::vector<uint8_t> corrupt = ataImage;
    corrupt[simdrive::kImageHeaderSize + 100] ^= 0x5A;
    expectAtaAbort(ataDownload(farm, "simdrive:ata0", kDownloadWithOffsets, corrupt, 64));
    // An image for other drives.
    expectAtaAbort(ataDownload(farm, "simdrive:ata0", kDownloadWithOffsets, makeImage("KX-9", "KX02", 4000), 64));
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT01");
}

TEST_F(SimDriveDownloadTest, AtaDeferredDownloadWaitsForActivation) {
    AtaCommandBlock block = ataDownload(farm, "simdrive:ata0", kDownloadDeferred, ataImage, 64);
    EXPECT_EQ(block.outStatus, kAtaStatusGood);
    EXPECT_EQ(block.outCount, 0x03);  // saved, activation deferred
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT01");
    block = ataActivate(farm, "simdrive:ata0");
    EXPECT_EQ(block.outStatus, kAtaStatusGood);
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT02");
}

TEST_F(SimDriveDownloadTest, InjectedFaultsFailTheFirstAttemptsOnly) {
    farm.setFaults("ata0", "fault.fail_download_attempts=2; fault.fail_activate_attempts=1");
    for (int attempt = 0; attempt < 2; ++attempt) {
        expectAtaAbort(ataDownload(farm, "simdrive:ata0", kDownloadDeferred, ataImage, 64));
    }
    EXPECT_EQ(ataDownload(farm, "simdrive:ata0", kDownloadDeferred, ataImage, 64).outCount, 0x03);
    expectAtaAbort(ataActivate(farm, "simdrive:ata0"));
    EXPECT_EQ(ataActivate(farm, "simdrive:ata0").outStatus, kAtaStatusGood);
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT02");
}

TEST_F(SimDriveDownloadTest, ScsiDeferredWriteBufferActivatesAndTellsTheOtherPath) {
    ScsiCommandBlock ready = scsiBlock({0x00, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    EXPECT_EQ(scsiCommand(farm, "simdrive:sas0:2", ready).status, 0);
    std::vector<uint8_t> image = makeImage("VT SAS-900", "V002", 20000);
    ScsiCommandBlock block = scsiDownload(farm, "simdrive:sas0", 0x0E, image, 4096);
    EXPECT_EQ(block.status, 0);
    EXPECT_EQ(block.resultFlags, SCSI_RESULT_DURATION_VALID);
    EXPECT_EQ(scsiRevision(farm, "simdrive:sas0"), "V001");
    block = scsiCommand(farm, "simdrive:sas0", scsiBlock({0x3B, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE));
    EXPECT_EQ(block.status, 0);
    EXPECT_EQ(scsiRevision(farm, "simdrive:sas0:2"), "V002");
    // INQUIRY leaves the news for the second path's next command, which reports it once.
    expectSense(scsiCommand(farm, "simdrive:sas0:2", ready), 0x06, 0x3F, 0x01);
    EXPECT_EQ(scsiCommand(farm, "simdrive:sas0:2", ready).status, 0);
    EXPECT_EQ(scsiCommand(farm, "simdrive:sas0", ready).status, 0);
}

TEST_F(SimDriveDownloadTest, ScsiRefusalsAreCheckConditionsWithFixedSense) {
    std::vector<uint8_t> image = makeImage("VT SAS-900", "V002", 20000);
    EXPECT_EQ(scsiWriteBuffer(farm, "simdrive:sas0", 0x07, image, 0, 4096).status, 0);
    expectSense(scsiWriteBuffer(farm, "simdrive:sas0", 0x07, image, 8192, 4096), 0x05, 0x24, 0x00);
    std::vector<uint8_t> corrupt = image;
    corrupt[simdrive::kImageHeaderSize] ^= 0xFF;
    expectSense(scsiDownload(farm, "simdrive:sas0", 0x07, corrupt, 4096), 0x05, 0x26, 0x00);
    expectSense(scsiCommand(farm, "simdrive:sas0", scsiBlock({0x3B, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE)),
                0x05, 0x2C, 0x00);
    EXPECT_EQ(scsiRevision(farm, "simdrive:sas0"), "V001");
}

TEST_F(SimDriveDownloadTest, ScsiShortDataInSetsTheUnderrunCondition) {
    std::vector<uint8_t> data(200);
    ScsiCommandBlock block = scsiCommand(farm, "simdrive:sas0", scsiBlock({0x12, 0, 0, 0, 200, 0}, SCSI_DIRECTION_IN), data);
    EXPECT_EQ(block.status, 0);
    EXPECT_EQ(block.conditionFlags, SCSI_CONDITION_UNDERRUN);
    EXPECT_EQ(block.senseLength, 0);
}

TEST_F(SimDriveDownloadTest, NvmeCommitWithActionOneTakesEffectAtReset) {
    std::vector<uint8_t> image = makeImage("VT NVMe", "NV02", 10000, 4096);
    NvmeCommandBlock block = nvmeDownload(farm, "simdrive:nvme0", image, 4096);
    EXPECT_EQ(block.completion.statusField, NVME_PHASE_TAG);
    block = nvmeBlock(0x10, 0, 1 * 8 + 2);
    block.submission.commandId = 0x1234;
    block = nvmeAdmin(farm, "simdrive:nvme0", block);
    EXPECT_EQ(block.completion.statusField, NVME_PHASE_TAG);
    EXPECT_EQ(block.completion.commandId, 0x1234);
    EXPECT_EQ(nvmeRevision(farm, "simdrive:nvme0"), "NV01");

    CvCommand reset = command(NVME_DEVICE_FUNCTION_CONTROLLER_RESET, nullptr, 0);
    reset.tag = 0;
    CvError error{};
    ASSERT_EQ(1, farm.execute("simdrive:nvme0", reset, error)) << error.message;
    EXPECT_EQ(nvmeRevision(farm, "simdrive:nvme0"), "NV02");
}

TEST_F(SimDriveDownloadTest, NvmeRefusalsAnswerWithCommandSpecificStatus) {
    std::vector<uint8_t> image = makeImage("VT NVMe", "NV02", 10000, 4096);
    // Action 3 on a controller that needs a reset: committed, but not yet running.
    nvmeDownload(farm, "simdrive:nvme0", image, 4096);
    EXPECT_EQ(nvmeStatus(nvmeCommit(farm, "simdrive:nvme0", 2, 3)), 0x10B);
    // A slot the controller lacks.
    nvmeDownload(farm, "simdrive:nvme0", image, 4096);
    EXPECT_EQ(nvmeStatus(nvmeCommit(farm, "simdrive:nvme0", 5, 1)), 0x4106);
    // A damaged image.
    std::vector<uint8_t> corrupt = image;
    corrupt[simdrive::kImageHeaderSize + 1] ^= 0x01;
    nvmeDownload(farm, "simdrive:nvme0", corrupt, 4096);
    EXPECT_EQ(nvmeStatus(nvmeCommit(farm, "simdrive:nvme0", 3, 1)), 0x4107);
    EXPECT_EQ(nvmeRevision(farm, "simdrive:nvme0"), "NV01");
}

TEST_F(SimDriveDownloadTest, AGoneDriveRefusesEveryCommand) {
    farm.setFaults("sas0", "fault.gone=yes");
    farm.setFaults("nvme0", "fault.gone=yes");
    farm.setFaults("ata0", "fault.gone=yes");
    CvError error{};

    ScsiCommandBlock scsi = scsiBlock({0x00, 0, 0, 0, 0, 0}, SCSI_DIRECTION_NONE);
    scsi.status = 0;
    CvCommand cmd = command(DEVICE_FUNCTION_DO_COMMAND, &scsi, sizeof scsi);
    EXPECT_EQ(0, farm.execute("simdrive:sas0:2", cmd, error));
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Device is unavailable");
    EXPECT_EQ(scsi.status, SCSI_STATUS_NOT_DELIVERED);

    AtaCommandBlock ata = ataBlock(ATA_PROTOCOL_NON_DATA, 0xE5);
    ata.resultFlags = 0xFF;
    cmd = command(DEVICE_FUNCTION_DO_COMMAND, &ata, sizeof ata);
    EXPECT_EQ(0, farm.execute("simdrive:ata0", cmd, error));
    EXPECT_STREQ(error.message, "Device is unavailable");
    EXPECT_EQ(ata.resultFlags, 0);

    cmd = command(NVME_DEVICE_FUNCTION_CONTROLLER_RESET, nullptr, 0);
    EXPECT_EQ(0, farm.execute("simdrive:nvme0", cmd, error));
    EXPECT_STREQ(error.message, "Device is unavailable");

    farm.setFaults("ata0", "");
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT01");
}

}  // namespace
}  // namespace simdrive_plugin_test
