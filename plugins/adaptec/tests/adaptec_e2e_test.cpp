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


TEST(AdaptecEndToEnd, ListsDownloadsActivatesAndSeesTheNewRevisions) {
    const ControllerBed adaptec = bed();
    ExpectListUpdateAndNewRevisions(adaptec);
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
