// End-to-end through USB bridges: the built firmstep lists and updates VT
// drives in USB enclosures through the OS devices plug-in and cvpl-sat or
// cvpl-atacb, with the simulated kernel answering as each kind of bridge does
// (SAT bridges that return the registers as data, as automatic sense, or only
// after an error; an ATACB bridge; a bridge that passes no ATA command).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "e2e_farm.h"
#include "kernel_e2e_bed.h"
#include "kernel_e2e_session.h"

namespace firmstep::test {
namespace {

const char kUsbPlugins[] = "cvpl-local,cvpl-os-devices,cvpl-ata,cvpl-scsi,cvpl-nvme,cvpl-sat,cvpl-atacb";

std::string VtDrive(const std::string& bridge, const std::string& serial, const std::string& extra = "")
{
    return "usb=" + bridge + "; kind=ata; model=VT-2000 Series; serial=" + serial +
           "; revision=VT01; oui=0x02A001; max_download_blocks=8; dma=yes" + extra;
}

class KernelE2eUsb : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string unavailable = KernelBedUnavailable();
        if (!unavailable.empty())
            GTEST_SKIP() << unavailable;
        bed = std::make_unique<KernelBed>();
        bed->usePlugins(kUsbPlugins);
    }

    static bool Has(const ProgramResult& result, const std::string& text)
    {
        return result.output.find(text) != std::string::npos;
    }

    std::unique_ptr<KernelBed> bed;
};

// Lines the framework logged at error or warning level.
std::vector<std::string> Complaints(const ProgramResult& result)
{
    std::vector<std::string> lines = LinesWith(result.output, "ERROR: ");
    const std::vector<std::string> warnings = LinesWith(result.output, "WARNING: ");
    lines.insert(lines.end(), warnings.begin(), warnings.end());
    return lines;
}

std::string Listing(const char* revision)
{
    const std::string r = revision;
    std::string text = "Number of VT drives found = 4\n\n"
                       "Dev   Model                            Serial Number        FW Rev   Type\n";
    for (int i = 0; i < 4; ++i)
        text += "  " + std::to_string(i) + "   VT-2000 Series                   USB000" + std::to_string(i + 1) +
                "              " + r + "     ATA\n";
    return text + "\n";
}

// Four VT drives behind four kinds of bridge (SAT with the registers as data,
// ATACB, SAT with automatic sense, SAT that returns registers only after an
// error) and one behind a bridge without ATA pass-through, which is not listed.
void AddBridges(KernelBed& bed, const std::string& extra = "")
{
    bed.addDisk("sda", 8, 0, "usb-VT_2000_USB0001", VtDrive("sat", "USB0001", extra));
    bed.addDisk("sdb", 8, 16, "usb-VT_2000_USB0002", VtDrive("atacb", "USB0002", extra));
    bed.addDisk("sdc", 8, 32, "usb-VT_2000_USB0003", VtDrive("sat-autosense", "USB0003", extra));
    bed.addDisk("sdd", 8, 48, "usb-VT_2000_USB0004", VtDrive("sat-errors-only", "USB0004", extra));
    bed.addDisk("sde", 8, 64, "usb-VT_2000_USB0005", VtDrive("no-ata", "USB0005"));
}

// Listing, then a deferred download with activation by DMA on the three
// bridges that carry DMA and by PIO on the one that does not, the new
// revision read back by the next run.
TEST_F(KernelE2eUsb, ListsAndUpdatesDrivesBehindSatAndAtacbBridges)
{
    AddBridges(*bed);
    const ProgramResult listed = bed->run({"-list", "-debug"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(Has(listed, Listing("VT01"))) << listed.output;
    EXPECT_EQ(Complaints(listed), std::vector<std::string>{}) << listed.output;
    // One "ata/device" per bridged VT drive (added, then removed), none on
    // the disk whose bridge passes no ATA command.
    EXPECT_EQ(LinesWith(listed.output, "ServiceName='ata/device'").size(), 4u * 2) << listed.output;
    EXPECT_TRUE(Has(listed, "Plugin loaded - PluginID=30 PluginName='ATACB Plugin'")) << listed.output;

    bed->writeImage("fw.bin", "VT", "VT02", 16384);
    const ProgramResult update = bed->run({"fw.bin", "-batch_mode", "-flags", "3", "-dma", "-dev", "0,1,2"});
    EXPECT_EQ(update.status, 0) << update.output;
    EXPECT_TRUE(Has(update, "Device 1 = VT-2000 Series  USB0002  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 4096) ...\n"))
        << update.output;
    EXPECT_TRUE(Has(update, "  Successful Download and Activations =   3\n"
                            "  Failed Download and Activations     =   0\n"))
        << update.output;
    const ProgramResult dma = bed->run({"fw.bin", "-batch_mode", "-dma", "-dev", "3"});
    EXPECT_NE(dma.status, 0) << "the older bridge refuses DMA pass-through:\n" << dma.output;
    EXPECT_TRUE(Has(dma, "ATA PASS-THROUGH refused by the bridge (sense key 0x5, ASC/ASCQ 0x24/0x00)")) << dma.output;
    const ProgramResult pio = bed->run({"fw.bin", "-batch_mode", "-dev", "3"});
    EXPECT_EQ(pio.status, 0) << pio.output;

    for (const char* serial : {"USB0001", "USB0002", "USB0003", "USB0004"})
        EXPECT_EQ(bed->savedRevision("ata", serial), "VT02") << serial;
    EXPECT_EQ(bed->savedRevision("ata", "USB0005"), "");
    const ProgramResult after = bed->run({"-list"});
    EXPECT_EQ(after.output, ExpectedBanner() + Listing("VT02"));
}

// A drive that aborts DOWNLOAD MICROCODE: the refusal reaches firmstep with
// the drive's error register whichever way its bridge returns registers.
TEST_F(KernelE2eUsb, RefusedSegmentIsReportedWithTheDrivesErrorRegisterBehindEveryBridge)
{
    AddBridges(*bed, "; fault.fail_segment=1; fault.fail_segment_always=yes");
    bed->writeImage("fw.bin", "VT", "VT02", 8192);
    const ProgramResult result = bed->run({"fw.bin", "-batch_mode"});
    EXPECT_NE(result.status, 0) << result.output;
    EXPECT_EQ(LinesWith(result.output, " task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4").size(), 4u)
        << result.output;
    EXPECT_EQ(LinesWith(result.output, "  FAILURE: Firmware download failed").size(), 4u) << result.output;
    EXPECT_EQ(result.output.find("SCSI system aborted"), std::string::npos) << result.output;
    for (const char* serial : {"USB0001", "USB0002", "USB0003", "USB0004"})
        EXPECT_EQ(bed->savedRevision("ata", serial), "") << serial;
}

// USB disks pulled while the operator chooses: the SAT one is plugged back
// and takes the image through its old service, the ATACB one stays away.
TEST_F(KernelE2eUsb, PulledDiskComesBackUnderItsService)
{
    AddBridges(*bed);
    bed->writeImage("fw.bin", "VT", "VT02", 8192);
    const std::unique_ptr<TerminalSession> session = bed->start({"fw.bin", "-debug"});
    ASSERT_TRUE(session->waitFor("Enter your drive selection(s):  ")) << session->output();
    bed->unplug("sda", "sdc");
    bed->unplug("sdb", "sdc");
    const std::string lingering = "Pnp_DeviceRemoved: device added to lingerList /dev/disk/by-id/";
    ASSERT_TRUE(session->waitFor(lingering + "usb-VT_2000_USB0001, ")) << session->output();
    ASSERT_TRUE(session->waitFor(lingering + "usb-VT_2000_USB0002, ")) << session->output();
    bed->replug("sda");
    ASSERT_TRUE(session->waitFor("Pnp_DeviceAdded: device found in lingerList /dev/disk/by-id/usb-VT_2000_USB0001, "))
        << session->output();
    session->type("0,1");
    const ProgramResult result = session->finish();
    EXPECT_TRUE(Has(result, "  SUCCESS: Firmware download completed successfully\n"
                            "  VT-2000 Series  USB0001  FW VT02\n"))
        << result.output;
    EXPECT_TRUE(Has(result, "  FAILURE: Device is unavailable\n  Error Code: 2\n")) << result.output;
    EXPECT_EQ(LinesWith(result.output, "ServiceName='ata/device'").size(), 4u * 2) << "nothing was added again";
    EXPECT_EQ(bed->savedRevision("ata", "USB0001"), "VT02");
    EXPECT_EQ(bed->savedRevision("ata", "USB0002"), "");
}

// The shipped configuration names both USB plug-ins. An ATACB bridge on the
// ATA bus (the leading blank keeps the bed from putting it on USB) is never
// sent ATACB, so its drive is not found; the same bridge on USB is, and so is
// a SAT bridge.
TEST(KernelE2eUsbShipped, AtacbGoesOnlyToUsbDisks)
{
    const std::string unavailable = KernelBedUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    KernelBed bed;
    bed.addDisk("sda", 8, 0, "ata-VT-2000_Series_ACB0001", " " + VtDrive("atacb", "ACB0001"));
    bed.addDisk("sdb", 8, 16, "usb-VT_2000_ACB0002", VtDrive("atacb", "ACB0002"));
    bed.addDisk("sdc", 8, 32, "usb-VT_2000_SAT0003", VtDrive("sat3-fixed", "SAT0003"));
    bed.useConfiguration(std::filesystem::path(FIRMSTEP_PROGRAM).parent_path() / "firmstep.ini");
    const ProgramResult result = bed.run({"-list"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(result.output.find("Number of VT drives found = 2\n") != std::string::npos) << result.output;
    EXPECT_TRUE(result.output.find("ACB0002") != std::string::npos) << result.output;
    EXPECT_TRUE(result.output.find("SAT0003") != std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("ACB0001"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace firmstep::test
