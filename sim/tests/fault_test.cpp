// Injected faults: failed attempts, failed segments, refused DMA, delays, a
// pulled drive, and commands from several threads.
#include <latch>
#include <thread>

#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(Faults, FirstAttemptsFailThenTheDownloadSucceeds) {
    auto drive = makeDrive<AtaDrive>(std::string(kAtaVt) + "; fault.fail_download_attempts=2");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT02", 20000);
    expectAtaAbort(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 16));
    expectAtaAbort(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 16));
    EXPECT_EQ(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 16).registers.count, ata::kDmApplied);
    EXPECT_EQ(drive->identity().revision, "VT02");
}

TEST(Faults, SegmentFaultOnceOrAlways) {
    auto image = makeImage("VT", "VT02", 20000);
    auto once = makeDrive<AtaDrive>(std::string(kAtaVt) + "; fault.fail_segment=3");
    ASSERT_TRUE(once);
    EXPECT_EQ(ataSegment(*once, ata::kDmOffsetsSaveActivate, image, 0, 8).registers.status, ata::kStatusGood);
    EXPECT_EQ(ataSegment(*once, ata::kDmOffsetsSaveActivate, image, 8, 8).registers.status, ata::kStatusGood);
    expectAtaAbort(ataSegment(*once, ata::kDmOffsetsSaveActivate, image, 16, 8));
    // The partial image went with the failed segment; a new attempt from offset 0 passes.
    expectAtaAbort(ataSegment(*once, ata::kDmOffsetsSaveActivate, image, 24, 8));
    EXPECT_EQ(ataDownload(*once, ata::kDmOffsetsSaveActivate, image, 8).registers.count, ata::kDmApplied);

    auto always = makeDrive<ScsiDrive>(std::string(kScsiVt) + "; fault.fail_segment=2; fault.fail_segment_always=yes");
    ASSERT_TRUE(always);
    auto scsiImage = makeImage("VT", "V002", 20000);
    for (int attempt = 0; attempt < 3; ++attempt) {
        expectSense(scsiDownload(*always, scsi::kWbOffsetsSaveActivate, scsiImage, 8192), scsi::kKeyHardwareError,
                    scsi::kAscInternalTargetFailure);
    }
    EXPECT_EQ(scsiRevision(*always), "V001");
}

TEST(Faults, ActivationFaultsOnEveryBus) {
    auto ata = makeDrive<AtaDrive>(std::string(kAtaVt) + "; fault.fail_activate_attempts=1");
    ASSERT_TRUE(ata);
    auto image = makeImage("VT", "VT02", 5000);
    ASSERT_EQ(ataDownload(*ata, ata::kDmOffsetsDeferred, image, 16).registers.status, ata::kStatusGood);
    expectAtaAbort(ataActivate(*ata));
    EXPECT_EQ(ataActivate(*ata).registers.count, ata::kDmApplied);

    auto nvmeDrive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; fault.fail_activate_attempts=1");
    ASSERT_TRUE(nvmeDrive);
    ASSERT_EQ(nvmeDownload(*nvmeDrive, makeImage("VT", "NV02", 5000, 4096), 4096).status, 0);
    EXPECT_EQ(nvmeCommit(*nvmeDrive, 2, 1).status, nvme::status(nvme::kSctGeneric, nvme::kScInternalError, false));
    EXPECT_EQ(nvmeCommit(*nvmeDrive, 2, 1).status, 0);  // the image survived the refused attempt
}

TEST(Faults, RefusedDmaGoneDriveAndDelays) {
    auto drive = makeDrive<AtaDrive>(std::string(kAtaVt) + "; dma=yes; fault.refuse_dma=yes");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT02", 5000);
    EXPECT_EQ(ataIdentify(*drive)[69] & 0x0100, 0x0100);  // still advertised
    expectAtaAbort(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 16, true));
    EXPECT_EQ(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 16).registers.count, ata::kDmApplied);

    std::vector<std::chrono::milliseconds> waits;
    drive->setSleeper([&](std::chrono::milliseconds delay) { waits.push_back(delay); });
    FaultPlan plan;
    plan.delayMs = 250;
    drive->setFaults(plan);
    ataIdentify(*drive);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].count(), 250);

    drive->setGone(true);
    AtaReply reply;
    std::vector<uint8_t> data(512);
    AtaInputs in;
    in.command = ata::kCmdIdentifyDevice;
    EXPECT_EQ(drive->execute({in, false, AtaDataPhase::PioIn, data}, reply), BusResult::DeviceGone);
    drive->setGone(false);
    EXPECT_EQ(drive->execute({in, false, AtaDataPhase::PioIn, data}, reply), BusResult::Completed);

    auto nvmeDrive = makeDrive<NvmeDrive>(std::string(kNvmeVt) + "; fault.gone=yes");
    ASSERT_TRUE(nvmeDrive);
    NvmeCompletion completion;
    EXPECT_EQ(nvmeDrive->submitAdmin({nvme::kOpIdentify, 0, 1}, data, completion), BusResult::DeviceGone);
    EXPECT_EQ(nvmeDrive->resetController(), BusResult::DeviceGone);
}

TEST(Faults, CommandsFromSeveralThreadsSeeOneRevisionOrTheOther) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT02", 200000);
    std::latch start(2);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        start.arrive_and_wait();
        while (!done.load()) {
            std::string revision = ataText(ataIdentify(*drive), 23, 4);
            ASSERT_TRUE(revision == "VT01" || revision == "VT02") << revision;
        }
    });
    start.arrive_and_wait();
    AtaReply reply = ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 8);
    done = true;
    reader.join();
    EXPECT_EQ(reply.registers.count, ata::kDmApplied);
    EXPECT_EQ(drive->identity().revision, "VT02");
}

}  // namespace
}  // namespace simdrive::test
