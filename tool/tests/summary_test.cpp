#include "exit_status.h"
#include "run_state.h"
#include "summary.h"

#include <gtest/gtest.h>

namespace firmstep {
namespace {

TEST(Summary, ExitStatusIsZeroOnlyWhenNoDriveFailed)
{
    EXPECT_EQ(DrivesExitStatus(1, 1), kExitSomeDrivesFailed);
    EXPECT_EQ(DrivesExitStatus(1, 5), 100);
    EXPECT_EQ(DrivesExitStatus(0, 2), kExitAllDrivesFailed);
    EXPECT_EQ(DrivesExitStatus(0, 1), 127);
    EXPECT_EQ(DrivesExitStatus(3, 0), kExitSuccess);
    EXPECT_EQ(DrivesExitStatus(0, 0), 0);  // nothing processed
}

TEST(Summary, DownloadSummaryIsTheDefault)
{
    EXPECT_EQ(FormatSummary(0, 2, 1),
              "Firmware Download Summary\n"
              "  Successful Downloads =   2\n"
              "  Failed Downloads     =   1\n");
    EXPECT_EQ(FormatSummary(kFlagDeferredDownload, 0, 1234),
              "Firmware Download Summary\n"
              "  Successful Downloads =   0\n"
              "  Failed Downloads     = 1234\n");
}

TEST(Summary, ActivationAndCombinedSummaries)
{
    EXPECT_EQ(FormatSummary(kFlagActivate, 1, 0),
              "Firmware Activation Summary\n"
              "  Successful Activations =   1\n"
              "  Failed Activations     =   0\n");
    EXPECT_EQ(FormatSummary(kFlagDeferredDownload | kFlagActivate, 4, 5),
              "Firmware Download and Activate Summary\n"
              "  Successful Download and Activations =   4\n"
              "  Failed Download and Activations     =   5\n");
}

TEST(Summary, NvmeResetBlockComesFirstWithTheSameCounts)
{
    EXPECT_EQ(FormatSummary(kFlagNvmeReset | kFlagActivate, 3, 2),
              "NVMe Controller Reset Summary\n"
              "  Successful Controller Resets =   3\n"
              "  Failed Controller Resets     =   2\n"
              "Firmware Activation Summary\n"
              "  Successful Activations =   3\n"
              "  Failed Activations     =   2\n");
}

}  // namespace
}  // namespace firmstep
