// firmstep end to end through cvpl-adaptec: a SATA and a SAS VT drive behind
// a simulated controller are listed, updated with activation and seen again
// with the new revision; a refused segment fails the download.
#include <gtest/gtest.h>

#include "controller_e2e.h"
#include "e2e_farm.h"

namespace firmstep::test {
namespace {

constexpr const char* kTree = "Controllers=0\nController.0=vt-sata1, vt-sas1\nArray.0=other-sas\n";

ControllerBed bed(const std::string& sasFaults = "") {
    return ControllerBed("cvpl-adaptec", ControllerFarmText(kTree, sasFaults), {{"SIM_ARCSDK_FARM", "farm.properties"}});
}

bool Has(const ProgramResult& result, const std::string& text) { return result.output.find(text) != std::string::npos; }

TEST(AdaptecEndToEnd, ListsDownloadsActivatesAndSeesTheNewRevisions) {
    const ControllerBed adaptec = bed();
    ProgramResult listed = adaptec.run({"-list"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(Has(listed, "Number of VT drives found = 2\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "  0   VT-2000 Series                   CTA0001              VT01     ATA\n"));
    EXPECT_TRUE(Has(listed, "  1   VT SAS-900                       CTS0001              VT01     SCSI\n"));

    const ProgramResult updated = adaptec.run({"fw.bin", "-batch_mode", "-flags", "3", "-sas_mode", "46"});
    EXPECT_EQ(updated.status, 0) << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT-2000 Series  CTA0001  FW VT02\n"))
        << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT SAS-900  CTS0001  FW VT02\n"));

    listed = adaptec.run({"-list"});
    EXPECT_TRUE(Has(listed, "CTA0001              VT02     ATA\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "CTS0001              VT02     SCSI\n"));
}

TEST(AdaptecEndToEnd, ARefusedSegmentFailsTheDownload) {
    const ControllerBed adaptec = bed("; fault.fail_segment=2");
    const ProgramResult result = adaptec.run({"fw.bin", "-batch_mode", "-dev", "1", "-debug"});
    // The second segment is refused: the SDK's code is all the reason there is.
    EXPECT_EQ(LinesWith(result.output, " parameters.dataLengths[ 1 ]=").size(), 2u) << result.output;
    EXPECT_TRUE(Has(result, "  FAILURE: adaptec scsi passthru failed, returned 2\n  Error Code: 2\n"));
    EXPECT_TRUE(Has(result, "CTS0001  FW VT01\n"));
}

}  // namespace
}  // namespace firmstep::test
