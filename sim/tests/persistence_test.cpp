// Firmware state kept in a state directory across simulator instances.
#include <fstream>

#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(Persistence, AnUpdatedDriveReportsItsNewRevisionInTheNextRun) {
    TempDir dir;
    auto store = std::make_shared<StateStore>(dir.path());
    {
        auto drive = makeDrive<AtaDrive>(kAtaVt, store);
        ASSERT_TRUE(drive);
        ASSERT_EQ(ataDownload(*drive, ata::kDmOffsetsSaveActivate, makeImage("VT", "VT02", 9000), 16).registers.count,
                  ata::kDmApplied);
    }
    auto again = makeDrive<AtaDrive>(kAtaVt, std::make_shared<StateStore>(dir.path()));
    ASSERT_TRUE(again);
    EXPECT_EQ(ataText(ataIdentify(*again), 23, 4), "VT02");
    // Only the state file is left behind, no temporary.
    auto entries = std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
    EXPECT_TRUE(std::filesystem::exists(store->pathFor("ata-ATA0001")));
}

TEST(Persistence, PowerOnActivatesWhatWasSavedDeferredOrPending) {
    TempDir dir;
    auto store = std::make_shared<StateStore>(dir.path());
    {
        auto scsiDrive = makeDrive<ScsiDrive>(kScsiVt, store);
        ASSERT_TRUE(scsiDrive);
        ASSERT_EQ(scsiDownload(*scsiDrive, scsi::kWbOffsetsDeferred, makeImage("VT", "V002", 3000), 4096).status,
                  scsi::kStatusGood);
        auto nvmeDrive = makeDrive<NvmeDrive>(kNvmeVt, store);
        ASSERT_TRUE(nvmeDrive);
        ASSERT_EQ(nvmeDownload(*nvmeDrive, makeImage("VT", "NV02", 3000, 4096), 4096).status, 0);
        ASSERT_EQ(nvmeCommit(*nvmeDrive, 3, 1).status, 0);
        EXPECT_EQ(nvmeRevision(*nvmeDrive), "NV01");
    }
    auto scsiDrive = makeDrive<ScsiDrive>(kScsiVt, store);
    auto nvmeDrive = makeDrive<NvmeDrive>(kNvmeVt, store);
    ASSERT_TRUE(scsiDrive && nvmeDrive);
    EXPECT_EQ(scsiRevision(*scsiDrive), "V002");
    EXPECT_EQ(nvmeRevision(*nvmeDrive), "NV02");
    FirmwareState firmware = nvmeDrive->firmware();
    EXPECT_EQ(firmware.activeSlot, 3);
    EXPECT_EQ(firmware.slots[0], "NV01");
    // A power cycle within one run does the same.
    auto ata = makeDrive<AtaDrive>(kAtaVt, store);
    ASSERT_TRUE(ata);
    ASSERT_EQ(ataDownload(*ata, ata::kDmOffsetsDeferred, makeImage("VT", "VT09", 3000), 16).registers.count,
              ata::kDmSavedDeferred);
    ata->powerCycle();
    EXPECT_EQ(ata->identity().revision, "VT09");
}

TEST(Persistence, BrokenStateFilesAreReportedAndForeignOnesIgnored) {
    TempDir dir;
    auto store = std::make_shared<StateStore>(dir.path());
    std::filesystem::path path = store->pathFor("nvme-NVM0001");
    std::ofstream(path) << "kind = nvme\nmodel = VT NVMe 3000\nserial = NVM0001\nrevision = NV05\nactive_slot = 9\n";
    DriveDescription description;
    DescriptionError problem;
    ASSERT_TRUE(parseDriveDescriptionText(kNvmeVt, description, problem));
    std::string error;
    EXPECT_EQ(createDrive(description, store, error), nullptr);
    EXPECT_NE(error.find("active_slot"), std::string::npos) << error;

    // A record of another model under the same serial belongs to another drive.
    std::ofstream(path, std::ios::trunc) << "kind = nvme\nmodel = Other\nserial = NVM0001\nrevision = XX\n";
    auto drive = makeDrive<NvmeDrive>(kNvmeVt, store);
    ASSERT_TRUE(drive);
    EXPECT_EQ(nvmeRevision(*drive), "NV01");
}

TEST(Persistence, ADriveThatCannotSaveRefusesTheActivation) {
    TempDir dir;
    // A plain file where the state directory should be.
    std::filesystem::path blocked = dir.path() / "blocked";
    std::ofstream(blocked) << "x";
    auto drive = makeDrive<AtaDrive>(kAtaVt, std::make_shared<StateStore>(blocked));
    ASSERT_TRUE(drive);
    expectAtaAbort(ataDownload(*drive, ata::kDmOffsetsSaveActivate, makeImage("VT", "VT02", 3000), 16));
    EXPECT_EQ(drive->identity().revision, "VT01");
}

}  // namespace
}  // namespace simdrive::test
