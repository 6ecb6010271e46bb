// firmstep end to end through cvpl-csmi: a SATA and a SAS VT drive behind a
// simulated CSMI adapter (preloaded below the kernel seam) are listed,
// updated with activation and seen again with the new revision; a segment the
// SAS drive refuses is reported with its status and sense.
#include <gtest/gtest.h>

#include "controller_e2e.h"

namespace firmstep::test {
namespace {

constexpr const char* kPhys = "Adapters=0\nPhys.0=0:vt-sata1, 1:vt-sas1:255, 2:expander, 3:other-sas\n";

class CsmiEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PreloadPossible()) GTEST_SKIP() << "sanitizer builds cannot preload the simulated driver";
    }
    static ControllerBed bed(const std::string& sasFaults = "", const std::string& sataFaults = "") {
        return ControllerBed("cvpl-csmi", ControllerFarmText(kPhys, sasFaults, sataFaults),
                             {{"LD_PRELOAD", SIM_CSMI_PRELOAD}, {"SIM_CSMI_FARM", "farm.properties"}});
    }
};

TEST_F(CsmiEndToEnd, ListsDownloadsActivatesAndSeesTheNewRevisions) {
    const ControllerBed csmi = bed();
    ExpectListUpdateAndNewRevisions(csmi);
}

TEST_F(CsmiEndToEnd, ARefusedSegmentIsReportedWithTheDrivesReason) {
    const ControllerBed csmi = bed("; fault.fail_segment=2", "; max_download_blocks=8; fault.fail_segment=2");
    const ProgramResult result = csmi.run({"fw.bin", "-batch_mode", "-debug"});
    // The SATA drive's registers come back through the status FIS, the SAS
    // drive's status and sense through the SSP response.
    EXPECT_TRUE(Has(result, " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4\n")) << result.output;
    EXPECT_TRUE(Has(result, "SCSI Status = 2\nSCSI Sense[0]= 112 (0x70)\n")) << result.output;
    EXPECT_TRUE(Has(result, "SCSI Sense[12]= 68 (0x44)\n"));
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n"));
    EXPECT_TRUE(Has(result, "CTS0001  FW VT01\n"));
    EXPECT_TRUE(Has(result, "CTA0001  FW VT01\n"));
}

}  // namespace
}  // namespace firmstep::test
