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
    static ControllerBed bed(const std::string& sasFaults = "") {
        return ControllerBed("cvpl-csmi", ControllerFarmText(kPhys, sasFaults),
                             {{"LD_PRELOAD", SIM_CSMI_PRELOAD}, {"SIM_CSMI_FARM", "farm.properties"}});
    }
};

bool Has(const ProgramResult& result, const std::string& text) { return result.output.find(text) != std::string::npos; }

TEST_F(CsmiEndToEnd, ListsDownloadsActivatesAndSeesTheNewRevisions) {
    const ControllerBed csmi = bed();
    ProgramResult listed = csmi.run({"-list"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(Has(listed, "Number of VT drives found = 2\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "  0   VT-2000 Series                   CTA0001              VT01     ATA\n"));
    EXPECT_TRUE(Has(listed, "  1   VT SAS-900                       CTS0001              VT01     SCSI\n"));

    const ProgramResult updated = csmi.run({"fw.bin", "-batch_mode", "-flags", "3", "-sas_mode", "46"});
    EXPECT_EQ(updated.status, 0) << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT-2000 Series  CTA0001  FW VT02\n"))
        << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT SAS-900  CTS0001  FW VT02\n"));

    listed = csmi.run({"-list"});
    EXPECT_TRUE(Has(listed, "CTA0001              VT02     ATA\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "CTS0001              VT02     SCSI\n"));
}

TEST_F(CsmiEndToEnd, ARefusedSegmentIsReportedWithTheDrivesSense) {
    const ControllerBed csmi = bed("; fault.fail_segment=2");
    const ProgramResult result = csmi.run({"fw.bin", "-batch_mode", "-dev", "1", "-debug"});
    EXPECT_TRUE(Has(result, "SCSI Status = 2\nSCSI Sense[0]= 112 (0x70)\n")) << result.output;
    EXPECT_TRUE(Has(result, "SCSI Sense[12]= 68 (0x44)\n"));
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n"));
    EXPECT_TRUE(Has(result, "CTS0001  FW VT01\n"));
}

}  // namespace
}  // namespace firmstep::test
