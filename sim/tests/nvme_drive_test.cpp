// A simulated NVMe controller driven with admin commands.
#include "sim_test_support.h"

namespace simdrive::test {
namespace {

constexpr uint16_t kInvalidSlot = nvme::status(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareSlot);
constexpr uint16_t kInvalidImage = nvme::status(nvme::kSctCommandSpecific, nvme::kScInvalidFirmwareImage);

TEST(NvmeDrive, IdentifyControllerAndNamespace) {
    auto drive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; fwug=2; slot1_read_only=yes; namespaces=2");
    ASSERT_TRUE(drive);
    auto ctrl = nvmeIdentify(*drive, nvme::kCnsController, 0);
    EXPECT_EQ(std::string(ctrl.begin() + 4, ctrl.begin() + 24), "NVM0001             ");
    EXPECT_EQ(std::string(ctrl.begin() + 24, ctrl.begin() + 37), "VT NVMe 3000 ");
    EXPECT_EQ(nvmeRevision(*drive), "NV01");
    EXPECT_EQ(ctrl[73] | ctrl[74] << 8 | ctrl[75] << 16, 0x02A003);  // least significant byte first
    EXPECT_EQ(ctrl[256] & 0x04, 0x04);                                 // firmware commands
    EXPECT_EQ(ctrl[260], 0x01 | 3 << 1);                              // slot 1 read-only, three slots
    EXPECT_EQ(ctrl[319], 2);
    EXPECT_EQ(ctrl[516], 2);

    auto ns = nvmeIdentify(*drive, nvme::kCnsNamespace, 1);
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = size << 8 | ns[static_cast<std::size_t>(i)];
    EXPECT_EQ(size, 1953525168u);
    std::vector<uint8_t> data(4096);
    EXPECT_EQ(nvmeAdmin(*drive, {nvme::kOpIdentify, 3, nvme::kCnsNamespace}, data).status,
              nvme::status(nvme::kSctGeneric, nvme::kScInvalidNamespace));
    EXPECT_EQ(nvmeAdmin(*drive, {nvme::kOpIdentify, 0, 0x7F}, data).status,
              nvme::status(nvme::kSctGeneric, nvme::kScInvalidField));
    EXPECT_EQ(nvmeAdmin(*drive, {0xC0}, data).status, nvme::status(nvme::kSctGeneric, nvme::kScInvalidOpcode));
}

TEST(NvmeDrive, DownloadCommitAction1AndResetRunTheNewRevision) {
    auto drive = makeDrive<NvmeDrive>(kNvmeVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT NVMe", "NV02", 30000, 4096);
    EXPECT_EQ(nvmeDownload(*drive, image, 4096).status, 0);
    NvmeCompletion completion = nvmeCommit(*drive, 2, 1);
    EXPECT_EQ(completion.status, 0);
    EXPECT_EQ(completion.statusField() & 0xFFFE, 0);  // what the tool tests
    EXPECT_EQ(nvmeRevision(*drive), "NV01");

    std::vector<uint8_t> log(512);
    nvmeAdmin(*drive, {nvme::kOpGetLogPage, 0xFFFFFFFF, 127u << 16 | nvme::kLogFirmwareSlot}, log);
    EXPECT_EQ(log[0], 1 | 2 << 4);  // slot 1 active, slot 2 next
    EXPECT_EQ(std::string(log.begin() + 16, log.begin() + 20), "NV02");

    EXPECT_EQ(drive->resetController(), BusResult::Completed);
    EXPECT_EQ(nvmeRevision(*drive), "NV02");
    EXPECT_EQ(drive->firmware().activeSlot, 2);
}

TEST(NvmeDrive, CommitActions0To3) {
    auto drive = makeDrive<NvmeDrive>(kNvmeVt);
    ASSERT_TRUE(drive);
    // Action 0 stores without activating; action 2 then activates that slot at reset.
    ASSERT_EQ(nvmeDownload(*drive, makeImage("VT", "NV10", 5000, 4096), 4096).status, 0);
    EXPECT_EQ(nvmeCommit(*drive, 3, 0).status, 0);
    drive->resetController();
    EXPECT_EQ(nvmeRevision(*drive), "NV01");
    EXPECT_EQ(nvmeCommit(*drive, 3, 2).status, 0);
    drive->resetController();
    EXPECT_EQ(nvmeRevision(*drive), "NV10");
    // Action 2 on an empty slot has no image to activate.
    EXPECT_EQ(nvmeCommit(*drive, 2, 2).status, kInvalidImage);

    // Action 3 on a controller that needs a reset: committed, and the status says so.
    ASSERT_EQ(nvmeDownload(*drive, makeImage("VT", "NV11", 5000, 4096), 4096).status, 0);
    NvmeCompletion completion = nvmeCommit(*drive, 0, 3);
    EXPECT_EQ(completion.statusCodeType(), nvme::kSctCommandSpecific);
    EXPECT_EQ(completion.statusCode(), nvme::kScActivationRequiresConventionalReset);
    EXPECT_EQ(nvmeRevision(*drive), "NV10");
    drive->resetController();
    EXPECT_EQ(nvmeRevision(*drive), "NV11");

    auto immediate = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; activate_without_reset=yes");
    ASSERT_TRUE(immediate);
    ASSERT_EQ(nvmeDownload(*immediate, makeImage("VT", "NV12", 5000, 4096), 4096).status, 0);
    EXPECT_EQ(nvmeCommit(*immediate, 2, 3).status, 0);
    EXPECT_EQ(nvmeRevision(*immediate), "NV12");
}

TEST(NvmeDrive, CommitRefusalsUseTheFirmwareStatusCodes) {
    auto drive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; slot1_read_only=yes");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "NV03", 9000, 4096);

    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status, kInvalidImage);  // nothing downloaded
    ASSERT_EQ(nvmeDownload(*drive, image, 4096).status, 0);
    EXPECT_EQ(nvmeCommit(*drive, 4, 1).status, kInvalidSlot);   // only three slots
    EXPECT_EQ(nvmeCommit(*drive, 1, 1).status, kInvalidSlot);   // read-only slot
    EXPECT_EQ(nvmeCommit(*drive, 2, 6).status, nvme::status(nvme::kSctGeneric, nvme::kScInvalidField));

    // Corrupt payload, a gap, and overlapping portions.
    auto corrupt = image;
    corrupt[kImageHeaderSize] ^= 0x80;
    ASSERT_EQ(nvmeDownload(*drive, corrupt, 4096).status, 0);
    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status, kInvalidImage);

    std::vector<uint8_t> first(image.begin(), image.begin() + 4096);
    std::vector<uint8_t> third(image.begin() + 8192, image.begin() + 12288);
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 0}, first);
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 2048}, third);
    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status, kInvalidImage);

    ASSERT_EQ(nvmeDownload(*drive, image, 4096).status, 0);
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 512}, third);
    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status,
              nvme::status(nvme::kSctCommandSpecific, nvme::kScOverlappingRange));

    // Portions out of order are fine.
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 0}, first);
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 2048}, third);
    std::vector<uint8_t> second(image.begin() + 4096, image.begin() + 8192);
    nvmeAdmin(*drive, {nvme::kOpFirmwareImageDownload, 0, 1023, 1024}, second);
    EXPECT_EQ(nvmeCommit(*drive, 0, 1).status, 0);
    drive->resetController();
    EXPECT_EQ(nvmeRevision(*drive), "NV03");
}

TEST(NvmeDrive, DownloadHonoursTheUpdateGranularity) {
    auto drive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; fwug=2");  // 8 KiB
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "NV04", 20000, 8192);
    EXPECT_EQ(nvmeDownload(*drive, image, 4096).status, nvme::status(nvme::kSctGeneric, nvme::kScInvalidField));
    EXPECT_EQ(nvmeDownload(*drive, image, 8192).status, 0);
    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status, 0);
}

TEST(NvmeDrive, FirmwareCommandsAreUnknownWithoutFirmwareSupport) {
    auto drive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; firmware_update=no");
    ASSERT_TRUE(drive);
    EXPECT_EQ(nvmeIdentify(*drive, nvme::kCnsController, 0)[256], 0);
    EXPECT_EQ(nvmeCommit(*drive, 2, 1).status, nvme::status(nvme::kSctGeneric, nvme::kScInvalidOpcode));
}

}  // namespace
}  // namespace simdrive::test
