// End-to-end: the built firmstep lists and updates simulated ATA, SCSI and
// NVMe drives through the OS devices plug-in and the ATA, SCSI and NVMe
// pass-through plug-ins, with disks from a faked udev tree and the kernel's
// SG_IO and NVMe requests answered by the simulated kernel; disks also leave
// and come back through udev events while the program runs. Nothing here
// loads cvpl-simdrive: every command crosses the plug-ins' kernel seam.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "e2e_farm.h"
#include "kernel_e2e_bed.h"
#include "kernel_e2e_session.h"

namespace firmstep::test {
namespace {

// A libata disk (both cvpl-ata and cvpl-scsi attach to it), a dual-ported SCSI
// disk seen as two disks, a disk of another maker, two VT disks with a partition, mounted on one of them
// (which the default drive filter leaves out), and an NVMe controller with two
// namespaces.
class KernelE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string unavailable = KernelBedUnavailable();
        if (!unavailable.empty())
            GTEST_SKIP() << unavailable;
        bed = std::make_unique<KernelBed>();
        bed->addDisk("sda", 8, 0, "ata-VT-2000_Series_KATA001",
                     "kind=ata; model=VT-2000 Series; serial=KATA001; revision=VT01; oui=0x02A001; "
                     "max_download_blocks=8");
        bed->addDisk("sdb", 8, 16, "scsi-3502a002000000001",
                     "kind=scsi; vendor=VT; product=SAS-900; serial=KSAS001; revision=VT01; wwn=0x502A002000000001");
        bed->addSecondPath("sdf", 8, 80, "scsi-3502a002000000001-port2", "sdb");
        bed->addDisk("sdc", 8, 32, "ata-Acme_Disk_500_ACM0001",
                     "kind=ata; model=Acme Disk 500; serial=ACM0001; revision=AC10; oui=0x00A0B0");
        bed->addDisk("sdd", 8, 48, "ata-VT-1500_Series_KATA002",
                     "kind=ata; model=VT-1500 Series; serial=KATA002; revision=VT01; oui=0x02A001");
        bed->addPartition("sdd", "sdd1", 8, 49, true);
        bed->addDisk("sde", 8, 64, "ata-VT-1500_Series_KATA003",
                     "kind=ata; model=VT-1500 Series; serial=KATA003; revision=VT01; oui=0x02A001");
        bed->addPartition("sde", "sde1", 8, 65, false);
        bed->addNvme("nvme0", 0, "nvme-VT_NVMe_3000_KNVM001",
                     "kind=nvme; model=VT NVMe 3000; serial=KNVM001; revision=VT01; oui=0x02A003; namespaces=2", 2);
    }

    static bool Has(const ProgramResult& result, const std::string& text)
    {
        return result.output.find(text) != std::string::npos;
    }

    std::unique_ptr<KernelBed> bed;
};

std::string Listing(const char* revision)
{
    const std::string r = revision;
    return "Number of VT drives found = 4\n\n"
           "Dev   Model                            Serial Number        FW Rev   Type\n"
           "  0   VT NVMe 3000                     KNVM001              " + r + "     NVMe\n"
           "  1   VT-2000 Series                   KATA001              " + r + "     ATA\n"
           "  2   VT SAS-900                       KSAS001              " + r + "     SCSI\n"
           "  3   VT-1500 Series                   KATA003              " + r + "     ATA\n\n";
}

// Lines the framework logged at error or warning level.
std::vector<std::string> Complaints(const ProgramResult& result)
{
    std::vector<std::string> lines = LinesWith(result.output, "ERROR: ");
    const std::vector<std::string> warnings = LinesWith(result.output, "WARNING: ");
    lines.insert(lines.end(), warnings.begin(), warnings.end());
    return lines;
}

TEST_F(KernelE2e, ListsEachDriveOnceThroughThePassThroughPlugins)
{
    const ProgramResult plain = bed->run({"-list"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.output, ExpectedBanner() + Listing("VT01"));

    const ProgramResult debug = bed->run({"-list", "-debug"});
    EXPECT_EQ(debug.status, 0);
    EXPECT_TRUE(Has(debug, Listing("VT01"))) << debug.output;
    EXPECT_EQ(Complaints(debug), std::vector<std::string>{}) << debug.output;

    // Only the five plug-ins of the configuration were loaded. The disk with a
    // mounted partition is no resource; of the others, each pass-through
    // plug-in took exactly the disks that answer its commands: ATA the three
    // libata disks, SCSI those and the SCSI disk's two, NVMe the namespaces. (Each
    // service is logged when added and again when removed.)
    EXPECT_EQ(LinesWith(debug.output, "Plugin loaded - ").size(), 5u) << debug.output;
    EXPECT_TRUE(LinesWith(debug.output, "PluginName='Drive Simulator Plugin'").empty());
    EXPECT_EQ(LinesWith(debug.output, "Resource added - ").size(), 7u);
    EXPECT_EQ(LinesWith(debug.output, "ServiceName='ata/device'").size(), 3u * 2);
    EXPECT_EQ(LinesWith(debug.output, "ServiceName='scsi/device'").size(), 5u * 2);
    // The dual-ported disk's second disk, and the controller's second
    // namespace, are folded into the first: one entry each, with two paths.
    const std::vector<std::string> folded = LinesWith(debug.output, " is same as ");
    ASSERT_EQ(folded.size(), 2u) << debug.output;
    EXPECT_NE(folded[0].find("(VT NVMe 3000 KNVM001)"), std::string::npos) << folded[0];
    EXPECT_NE(folded[1].find("(VT SAS-900 KSAS001)"), std::string::npos) << folded[1];
    EXPECT_EQ(LinesWith(debug.output, "ServiceName='nvme/device'").size(), 2u * 2);

    // The libata disk is reached through SCSI as well, where the kernel's
    // translation names it "ATA" and the same serial: that path is judged by
    // its own identity and adds no drive.
    EXPECT_TRUE(Has(debug, "Non-VT drive\n  Model String = ATA VT-2000 Series\n  Serial Number= KATA001\n"))
        << debug.output;
    EXPECT_TRUE(Has(debug, "Non-VT drive\n  Model String = Acme Disk 500\n  Serial Number= ACM0001\n"));
    EXPECT_TRUE(Has(debug, "Non-VT drive\n  Model String = ATA Acme Disk 500\n  Serial Number= ACM0001\n"));
}

// NVMe namespaces that the kernel places among the virtual devices: a
// dual-ported drive under native multipath (namespace nvme1n1 of subsystem 1,
// reached through controllers nvme3, which is resetting, and nvme4) and a
// namespace over fabrics without multipath. Each is listed once as NVMe, its
// commands going to a live controller: the simulated kernel answers only on
// the live controllers' nodes, and there is no "nvme1" that the number suggests.
TEST_F(KernelE2e, MultipathAndFabricsNamespacesAreListedThroughALiveController)
{
    bed->addVirtualNvme("nvme1n1", 10, "nvme-VT_NVMe_Dual_KNVM002", "/devices/virtual/nvme-subsystem/nvme-subsys1",
                        {{"nvme3", "resetting"}, {"nvme4", "live"}},
                        "kind=nvme; model=VT NVMe Dual; serial=KNVM002; revision=VT01; oui=0x02A003");
    bed->addVirtualNvme("nvme5n1", 11, "nvme-VT_NVMe_Fabric_KNVM003", "/devices/virtual/nvme-fabrics/ctl/nvme5",
                        {{"nvme5", "live"}},
                        "kind=nvme; model=VT NVMe Fabric; serial=KNVM003; revision=VT01; oui=0x02A003");
    const ProgramResult result = bed->run({"-list"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Has(result, "Number of VT drives found = 6\n")) << result.output;
    for (const char* serial : {"KNVM002", "KNVM003"}) {
        const std::vector<std::string> rows = LinesWith(result.output, serial);
        ASSERT_EQ(rows.size(), 1u) << result.output;
        EXPECT_EQ(rows[0].substr(rows[0].size() - 4), "NVMe") << rows[0];
    }
}

// Deferred download and activation on every VT drive (SCSI write buffer mode
// 14, then mode 15), the NVMe image committed for activation at the next
// reset and the controller reset. The image takes 10 segments on the ATA
// drive, 3 on the SCSI drive and 10 on the NVMe drive, and a drive only takes
// the new revision when every byte of it arrived. Each drive saves its new
// revision, which the next run reads back through the same plug-ins.
TEST_F(KernelE2e, UpdatesEveryKindAndTheNextRunSeesTheNewRevisions)
{
    bed->writeImage("fw.bin", "VT", "VT02", 40960);

    const ProgramResult update =
        bed->run({"fw.bin", "-batch_mode", "-flags", "7", "-sas_mode", "14", "-nvme_ca", "1"});
    EXPECT_EQ(update.status, 0) << update.output;
    EXPECT_TRUE(Has(update, "Device 0 = VT NVMe 3000  KNVM001  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 4096) ...\n"
                            "  SUCCESS: Firmware image download completed successfully\n"
                            "  SUCCESS: NVMe firmware commit completed successfully\n"
                            "  SUCCESS: NVMe reset completed successfully\n"
                            "  VT NVMe 3000  KNVM001  FW VT02\n"))
        << update.output;
    EXPECT_TRUE(Has(update, "Device 1 = VT-2000 Series  KATA001  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 4096) ...\n"));
    EXPECT_TRUE(Has(update, "  SUCCESS: Activate firmware completed successfully\n"
                            "  VT-2000 Series  KATA001  FW VT02\n"));
    EXPECT_TRUE(Has(update, "Device 2 = VT SAS-900  KSAS001  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 16384) ...\n"));
    EXPECT_TRUE(Has(update, "  SUCCESS: Activate firmware completed successfully\n"
                            "  VT SAS-900  KSAS001  FW VT02\n"));
    EXPECT_TRUE(Has(update, "Device 3 = VT-1500 Series  KATA003  FW VT01\n"));
    EXPECT_TRUE(Has(update, "Firmware Download and Activate Summary\n"
                            "  Successful Download and Activations =   4\n"
                            "  Failed Download and Activations     =   0\n"))
        << update.output;
    EXPECT_EQ(bed->savedRevision("ata", "KATA001"), "VT02");
    EXPECT_EQ(bed->savedRevision("scsi", "KSAS001"), "VT02");
    EXPECT_EQ(bed->savedRevision("nvme", "KNVM001"), "VT02");
    EXPECT_EQ(bed->savedRevision("ata", "KATA003"), "VT02");
    EXPECT_EQ(bed->savedRevision("ata", "KATA002"), "") << "the disk with a mounted partition was left alone";
    EXPECT_EQ(bed->savedRevision("ata", "ACM0001"), "");

    const ProgramResult after = bed->run({"-list"});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.output, ExpectedBanner() + Listing("VT02"));
}

// Disks leave while the operator is being asked which drives to update: one
// comes back before the answer, under its old resource and services, and takes
// the image; the other stays away and its service refuses the download.
TEST_F(KernelE2e, DisksLeavingAndReturningWhileTheOperatorChooses)
{
    bed->writeImage("fw.bin", "VT", "VT02", 8192);
    const std::unique_ptr<TerminalSession> session = bed->start({"fw.bin", "-debug"});
    ASSERT_TRUE(session->waitFor("Enter your drive selection(s):  ")) << session->output();

    bed->unplug("sda", "sdb");
    bed->unplug("sde", "sdb");
    const std::string lingering = "Pnp_DeviceRemoved: device added to lingerList /dev/disk/by-id/";
    ASSERT_TRUE(session->waitFor(lingering + "ata-VT-2000_Series_KATA001, ")) << session->output();
    ASSERT_TRUE(session->waitFor(lingering + "ata-VT-1500_Series_KATA003, ")) << session->output();
    bed->replug("sda");
    ASSERT_TRUE(session->waitFor("Pnp_DeviceAdded: device found in lingerList "
                                 "/dev/disk/by-id/ata-VT-2000_Series_KATA001, "))
        << session->output();

    session->type("1,3");
    const ProgramResult result = session->finish();
    EXPECT_EQ(result.status, 100) << result.output;
    EXPECT_TRUE(Has(result, "Device 1 = VT-2000 Series  KATA001  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 4096) ...\n"))
        << result.output;
    EXPECT_TRUE(Has(result, "  SUCCESS: Firmware download completed successfully\n"
                            "  VT-2000 Series  KATA001  FW VT02\n"));
    EXPECT_TRUE(Has(result, "Device 3 = VT-1500 Series  KATA003  FW VT01\n"));
    EXPECT_TRUE(Has(result, "  FAILURE: Device is unavailable\n  Error Code: 2\n"));
    EXPECT_TRUE(Has(result, "Firmware Download Summary\n  Successful Downloads =   1\n  Failed Downloads     =   1\n"));
    EXPECT_EQ(Complaints(result), std::vector<std::string>{});
    // The returning disk kept its resource and services: nothing was added again.
    EXPECT_EQ(LinesWith(result.output, "Resource added - ").size(), 7u);
    EXPECT_EQ(LinesWith(result.output, "ServiceName='ata/device'").size(), 3u * 2);
    EXPECT_EQ(bed->savedRevision("ata", "KATA001"), "VT02");
    EXPECT_EQ(bed->savedRevision("ata", "KATA003"), "");
}

// A disk whose queue takes 120 KiB a request, as behind a USB 2 bridge: the
// drive would take 256 KiB segments and the library 128 KiB, yet firmstep
// sends what the kernel carries, and the whole image arrives.
TEST(KernelE2eQueueLimit, SegmentsFitTheDisksQueue)
{
    const std::string unavailable = KernelBedUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    KernelBed bed;
    bed.addDisk("sda", 8, 0, "ata-VT-2000_Series_KUSB001",
                "kind=ata; model=VT-2000 Series; serial=KUSB001; revision=VT01; oui=0x02A001; "
                "max_download_blocks=512",
                120);
    bed.writeImage("fw.bin", "VT", "VT02", 300 * 1024);

    const ProgramResult result = bed.run({"fw.bin", "-batch_mode"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Device 0 = VT-2000 Series  KUSB001  FW VT01\n"
                                 "  Downloading firmware (I/O transfer length = 122880) ...\n"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(bed.savedRevision("ata", "KUSB001"), "VT02") << result.output;
}

// Many disks whose drives are slow to answer: every VT drive present at the
// start is listed, in every run. With the shipped configuration the first disk
// scan is waited for; with the OS devices plug-in loaded last, every probe of
// the pass-through plug-ins runs on the framework's work thread after loading
// (far longer than the one-second settle) and firmstep waits for them.
TEST(KernelE2eMany, EverySlowDiskPresentAtTheStartIsListed)
{
    const std::string unavailable = KernelBedUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    KernelBed bed;
    constexpr int kDisks = 32;
    for (int i = 0; i < kDisks; ++i) {
        const std::string name = i < 26 ? std::string("sd") + char('a' + i) : std::string("sda") + char('a' + i - 26);
        char serial[16];
        std::snprintf(serial, sizeof serial, "KMANY%02d", i);
        bed.addDisk(name, i < 16 ? 8 : 65, (i % 16) * 16, std::string("ata-VT-2000_Series_") + serial,
                    std::string("kind=ata; model=VT-2000 Series; serial=") + serial + "; revision=VT01; oui=0x02A001");
    }
    bed.setFirstAnswerDelay(40);
    const std::string expected = "Number of VT drives found = " + std::to_string(kDisks) + "\n";

    bed.useConfiguration(std::filesystem::path(FIRMSTEP_PROGRAM).parent_path() / "firmstep.ini");
    const ProgramResult shipped = bed.run({"-list"});
    EXPECT_EQ(shipped.status, 0);
    EXPECT_NE(shipped.output.find(expected), std::string::npos) << shipped.output;

    bed.writeConfiguration("[Corvane]\n"
                           "Plugins=cvpl-local,cvpl-ata,cvpl-scsi,cvpl-nvme,cvpl-os-devices\n"
                           "Connections=cv-local://localhost\n\n"
                           "[cvpl-os-devices]\n"
                           "ScanTimeout=-1\n");
    const ProgramResult probedLater = bed.run({"-list"});
    EXPECT_EQ(probedLater.status, 0);
    EXPECT_NE(probedLater.output.find(expected), std::string::npos) << probedLater.output;
    EXPECT_EQ(LinesWith(probedLater.output, "KMANY").size(), static_cast<std::size_t>(kDisks));
}

// The shipped configuration (next to the program) on a machine like the build
// machines: a mounted system disk and a disk of another maker, no VT drive. It
// loads every plug-in it names and ends with the no-drives report alone, its
// line ended; nothing else is logged at error level, and at warning level only
// cvpl-storelib's word that this machine has no StoreLib library.
TEST(KernelE2eShipped, ConfigurationReportsAMachineWithoutVtDrivesCleanly)
{
    const std::string unavailable = KernelBedUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    KernelBed bed;
    bed.addDisk("sda", 8, 0, "ata-Acme_System_SYS0001",
                "kind=ata; model=Acme System; serial=SYS0001; revision=AC10; oui=0x00A0B0");
    bed.addPartition("sda", "sda1", 8, 1, true);
    bed.addDisk("sdb", 8, 16, "ata-Acme_Disk_500_ACM0001",
                "kind=ata; model=Acme Disk 500; serial=ACM0001; revision=AC10; oui=0x00A0B0");
    bed.useConfiguration(std::filesystem::path(FIRMSTEP_PROGRAM).parent_path() / "firmstep.ini");

    const ProgramResult result = bed.run({"-list", "-debug"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(LinesWith(result.output, "Plugin loaded - ").size(), 8u) << result.output;
    std::vector<std::string> complaints = Complaints(result);
    std::erase_if(complaints,
                  [](const std::string& line) { return line.rfind("WARNING: Could not initialize StoreLib", 0) == 0; });
    ASSERT_EQ(complaints.size(), 1u) << result.output;
    const std::string report = "ERROR: No VT drives found - Unable to find a VT service on any resource on machine ";
    ASSERT_EQ(complaints[0].rfind(report, 0), 0u) << result.output;
    EXPECT_EQ(complaints[0].find_first_not_of("0123456789", report.size()), std::string::npos) << result.output;
}

// A drive that aborts DOWNLOAD MICROCODE (status 51h, error 04h) comes back
// from libata as CHECK CONDITION with fixed-format sense; firmstep reports it
// as the drive's refusal with its error register, not as a failed request.
TEST(KernelE2eRefusal, AbortedDownloadIsReportedWithTheDrivesErrorRegister)
{
    const std::string unavailable = KernelBedUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    KernelBed bed;
    bed.addDisk("sda", 8, 0, "ata-VT-2000_Series_KATA009",
                "kind=ata; model=VT-2000 Series; serial=KATA009; revision=VT01; oui=0x02A001; "
                "fault.fail_segment=1; fault.fail_segment_always=yes");
    bed.writeImage("fw.bin", "VT", "VT02", 8192);

    const ProgramResult result = bed.run({"fw.bin", "-batch_mode"});
    EXPECT_NE(result.status, 0) << result.output;
    EXPECT_NE(result.output.find(" task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4\n"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("  FAILURE: Firmware download failed\n  Error Code: 4\n"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("ioctl failed"), std::string::npos) << result.output;
    EXPECT_EQ(bed.savedRevision("ata", "KATA009"), "");
}

}  // namespace
}  // namespace firmstep::test
