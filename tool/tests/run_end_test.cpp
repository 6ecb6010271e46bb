// The end of a run: the "-cs" check against ATA drives, the per-drive loop, the
// exit status the successes and failures give whatever their order, and the
// guard.
#include "download_test_support.h"
#include "exit_status.h"
#include "run_driver.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace firmstep::test {
namespace {

class RunEndTest : public ::testing::Test {
protected:
    RunEndTest()
    {
        run_->state.flags = kFlagActivate;
        for (std::size_t i = 0; i < 4; ++i) {
            paths_[i] = AccessPath{static_cast<CvUID>(40 + i), static_cast<CvUID>(50 + i)};
            fake_.Attach(paths_[i], drives_[i]);
        }
    }

    // Discovers drives 0 to kinds.size()-1 of the given kinds; those listed in
    // `failing` refuse every activation.
    void Discover(const std::vector<BusKind>& kinds, const std::vector<int>& failing)
    {
        std::vector<TableRow> rows;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            drives_[i].kind = kinds[i];
            rows.push_back({kinds[i], {paths_[i]}, &drives_[i]});
        }
        for (int i : failing)
            drives_[i].refuseAllActivations = true;
        FillDriveTable(run_->state.drives, rows);
    }

    // Runs the end of the run as the driver does and returns the exit status.
    int Finish()
    {
        return RunGuarded(*run_, [](RunContext& run) -> int {
            if (StepResult end = TransferLengthCheckStep(run))
                return *end;
            DriveSteps(run);
            return SummaryStep(run);
        });
    }

    DownloadFake fake_;
    OutputCapture output_;
    std::unique_ptr<RunContext> run_ = std::make_unique<RunContext>();
    DownloadDrive drives_[4];
    AccessPath paths_[4]{};
};

TEST_F(RunEndTest, AllSucceed)
{
    Discover({BusKind::Ata, BusKind::Scsi, BusKind::Nvme}, {});
    EXPECT_EQ(Finish(), kExitSuccess);
    EXPECT_EQ(run_->successes, 3);
    EXPECT_NE(output_.Text().find("Firmware Activation Summary\n"
                                  "  Successful Activations =   3\n"
                                  "  Failed Activations     =   0\n"),
              std::string::npos);
}

// A failure followed by a success must not read as a clean batch.
TEST_F(RunEndTest, LastDriveSucceededAfterAFailure)
{
    Discover({BusKind::Ata, BusKind::Ata}, {0});
    EXPECT_EQ(Finish(), kExitSomeDrivesFailed);
    EXPECT_EQ(run_->failures, 1);
    EXPECT_EQ(run_->successes, 1);
}

TEST_F(RunEndTest, LastDriveFailedAfterASuccess)
{
    Discover({BusKind::Ata, BusKind::Scsi}, {1});
    EXPECT_EQ(Finish(), kExitSomeDrivesFailed);
}

TEST_F(RunEndTest, EveryDriveFailed)
{
    Discover({BusKind::Ata, BusKind::Nvme}, {0, 1});
    EXPECT_EQ(Finish(), kExitAllDrivesFailed);
    EXPECT_NE(output_.Text().find("  Successful Activations =   0\n  Failed Activations     =   2\n"),
              std::string::npos);
}

TEST_F(RunEndTest, NoDriveProcessedEndsWithSuccess)
{
    Discover({BusKind::Ata, BusKind::Ata}, {0, 1});
    run_->state.explicitSelection = true;  // and nothing marked
    EXPECT_EQ(Finish(), kExitSuccess);
    EXPECT_TRUE(fake_.FirmwareCommands().empty());
}

TEST_F(RunEndTest, TransferLengthNotWholeBlocksIsTheLengthWithoutAtaDrives)
{
    run_->options.acceptedTransferLength = run_->options.requestedTransferLength = 1000;
    Discover({BusKind::Scsi, BusKind::Nvme}, {});
    EXPECT_EQ(Finish(), kExitSuccess);
    EXPECT_EQ(fake_.FirmwareCommands().size(), 2u);
}

TEST_F(RunEndTest, TransferLengthNotWholeBlocksStopsTheRunWithAnAtaDrive)
{
    run_->options.acceptedTransferLength = run_->options.requestedTransferLength = 1000;
    Discover({BusKind::Scsi, BusKind::Ata}, {});
    run_->state.explicitSelection = true;
    run_->state.drives.rows[0].marks |= kMarkSelected;  // the ATA drive counts even unselected
    EXPECT_EQ(Finish(), kExitTransferLength);
    EXPECT_TRUE(fake_.Sent().empty());
    EXPECT_EQ(output_.Text(), "ERROR: Firmware WAS NOT downloaded - incompatible '-cs <n>' specified '1000'\n");
}

TEST_F(RunEndTest, TransferLengthCheckIgnoresRowsBeyondTheCount)
{
    Discover({BusKind::Scsi}, {});
    run_->state.drives.rows[1].marks = kMarkAta;  // left over, not a discovered drive
    EXPECT_FALSE(TransferLengthUnfitForAta(1000, run_->state.drives));
    EXPECT_FALSE(TransferLengthUnfitForAta(0, run_->state.drives));
    Discover({BusKind::Ata}, {});
    EXPECT_FALSE(TransferLengthUnfitForAta(1024, run_->state.drives));
    EXPECT_TRUE(TransferLengthUnfitForAta(1000, run_->state.drives));
}

TEST_F(RunEndTest, ExceptionAbandonsTheRunWithTheStatusReachedSoFar)
{
    run_->frameworkUp = true;  // must stay up: the guard does not shut the framework down
    run_->exitStatus = kExitSomeDrivesFailed;
    const int status = RunGuarded(*run_, [](RunContext&) -> int { throw std::runtime_error("fault"); });
    EXPECT_EQ(status, kExitSomeDrivesFailed);
    EXPECT_TRUE(run_->frameworkUp);
    EXPECT_EQ(output_.Text(), "");
}

}  // namespace
}  // namespace firmstep::test
