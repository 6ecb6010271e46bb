// End-to-end: the built firmstep with cvpl-local and cvpl-storelib over the
// StoreLib stand-in. A MegaRAID controller carries a SATA and a SAS VT drive
// and a drive of another maker, a SAS-3 host bus adapter one SAS VT drive; the
// drives keep their firmware in "state/" across runs.
#include <gtest/gtest.h>

#include "e2e_farm.h"
#include "test_support.h"

namespace firmstep::test {
namespace {

const std::string kControllers =
    "StateDir=state\n"
    "Controller.mr0=family=megaraid; number=0; location=1\n"
    "Controller.hba=family=sas3; number=1\n";

std::string Sata(const std::string& serial, const std::string& extra = "")
{
    return "kind=ata; model=VT-2000 Series; serial=" + serial + "; revision=VT01; oui=0x02A001" + extra;
}

std::string Sas(const std::string& serial, const std::string& extra = "")
{
    return "kind=scsi; vendor=VT; product=SAS-900; serial=" + serial + "; revision=VT01; oui=0x02A002" + extra;
}

class StoreLibFarm {
public:
    StoreLibFarm(const std::string& drives, const std::string& libraries = SIM_STORELIB_DIR)
    {
        WriteFile(dir_.path() / "firmstep.ini",
                  "[Corvane]\nPlugins=cvpl-local,cvpl-storelib\nConnections=cv-local://localhost\n\n"
                  "[cvpl-storelib]\nStoreLibDirectory=" + libraries + "\n");
        WriteFile(dir_.path() / "sim-storelib.properties", kControllers + drives);
        WriteFirmwareImage(dir_.path() / "fw.bin", "VT", "VT02", 20480);
    }

    ProgramResult run(std::vector<std::string> args) const
    {
        args.push_back("-cfg");
        args.push_back("firmstep.ini");
        return RunProgram(args, dir_.path());
    }

private:
    TempDir dir_;
};

bool Has(const ProgramResult& result, const std::string& text)
{
    return result.output.find(text) != std::string::npos;
}

const std::string kDrives =
    "Drive.sata=controller=mr0; device_id=8; slot=0; " + Sata("VTA0101") + "\n"
    "Drive.sas=controller=mr0; device_id=9; slot=1; " + Sas("VTS0101") + "\n"
    "Drive.other=controller=mr0; device_id=10; slot=2; kind=ata; model=Acme Disk 500; serial=ACM0001; "
    "revision=AC10; oui=0x00A0B0\n"
    "Drive.hba=controller=hba; device_id=3; slot=4; " + Sas("VTS0102") + "\n";

TEST(StoreLibE2e, ListDownloadActivateAndListTheNewRevisions)
{
    const StoreLibFarm farm(kDrives);
    const ProgramResult before = farm.run({"-list"});
    EXPECT_EQ(before.status, 0) << before.output;
    EXPECT_TRUE(Has(before, "Number of VT drives found = 3\n")) << before.output;
    EXPECT_EQ(LinesWith(before.output, "VT-2000 Series                   VTA0101              VT01     ATA").size(), 1u)
        << before.output;
    EXPECT_EQ(LinesWith(before.output, "VT SAS-900                       VTS0101              VT01     SCSI").size(), 1u);
    EXPECT_EQ(LinesWith(before.output, "VT SAS-900                       VTS0102              VT01     SCSI").size(), 1u);

    // Deferred download, then activation: 0Eh and 0Fh on the SATA drive, WRITE
    // BUFFER modes 0Eh and 0Fh on the SAS drives.
    const ProgramResult update = farm.run({"fw.bin", "-batch_mode", "-flags", "3", "-sas_mode", "46"});
    EXPECT_EQ(update.status, 0) << update.output;
    EXPECT_TRUE(Has(update, "  Successful Download and Activations =   3\n")) << update.output;
    EXPECT_EQ(LinesWith(update.output, "  SUCCESS: Activate firmware completed successfully").size(), 3u);
    EXPECT_TRUE(Has(update, "  VT-2000 Series  VTA0101  FW VT02\n"));
    EXPECT_TRUE(Has(update, "  VT SAS-900  VTS0102  FW VT02\n"));

    const ProgramResult after = farm.run({"-list"});
    EXPECT_EQ(LinesWith(after.output, "VT02     ").size(), 3u) << after.output;
    EXPECT_EQ(LinesWith(after.output, "VT01     ").size(), 0u);
}

// Each drive refuses its second segment: the tool reports the drive's own
// verdict, the ATA error register and the SCSI status with its sense data.
TEST(StoreLibE2e, RefusedSegmentIsReportedWithTheDrivesReason)
{
    const StoreLibFarm farm(
        "Drive.sata=controller=mr0; device_id=8; slot=0; " +
        Sata("VTA0201", "; max_download_blocks=8; fault.fail_segment=2") + "\n"
        "Drive.sas=controller=hba; device_id=3; slot=4; " + Sas("VTS0201", "; max_download_blocks=8; fault.fail_segment=2") +
        "\n");
    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-debug"});
    EXPECT_NE(result.status, 0) << result.output;
    EXPECT_TRUE(Has(result, "task file register status=0x51")) << result.output;
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n  Error Code: 4\n")) << result.output;
    EXPECT_TRUE(Has(result, "SCSI Status = 2\n")) << result.output;
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n  Error Code: 2\n")) << result.output;
    EXPECT_TRUE(Has(result, "  Failed Downloads     =   2\n")) << result.output;
}

// No StoreLib library where the plug-in looks: it loads, says what it tried,
// finds nothing, and nothing it logs is an error.
TEST(StoreLibE2e, MachineWithoutStoreLibLogsNoError)
{
    const StoreLibFarm farm(kDrives, "/nonexistent/storelib");
    const ProgramResult result = farm.run({"-list", "-debug"});
    EXPECT_TRUE(Has(result, "INFO: Plugin loaded - PluginID=2 PluginName='StoreLib Plugin'")) << result.output;
    EXPECT_TRUE(Has(result, "WARNING: Could not initialize StoreLib library\n")) << result.output;
    const auto errors = LinesWith(result.output, "ERROR: ");
    ASSERT_EQ(errors.size(), 1u) << result.output;
    EXPECT_EQ(errors[0].rfind("ERROR: No VT drives found", 0), 0u) << result.output;
    EXPECT_TRUE(LinesWith(result.output, "FATAL: ").empty());
}

}  // namespace
}  // namespace firmstep::test
