// End-to-end: the built firmstep against simulated drives served by
// cvpl-simdrive through cvpl-local. Discovery, the listing and every way of
// choosing drives.
#include <gtest/gtest.h>

#include "e2e_farm.h"

namespace firmstep::test {
namespace {

std::string Ata(const std::string& model, const std::string& serial, const std::string& revision = "VT01")
{
    return "kind=ata; model=" + model + "; serial=" + serial + "; revision=" + revision + "; oui=0x02A001";
}

// Drives of all kinds, one of them reachable through two resources, and one
// drive of another maker per kind.
std::vector<SimDrive> MixedFarm()
{
    return {
        {"vt-ata1", Ata("VT-2000 Series", "VTA0001")},
        {"vt-ata2", Ata("VT-1500 Series", "VTA0002"), 2},
        {"other-ata", "kind=ata; model=Acme Disk 500; serial=ACM0001; revision=AC10; oui=0x00A0B0"},
        {"vt-sas1", "kind=scsi; vendor=VT; product=SAS-900; serial=VTS0001; revision=VT01; wwn=0x502A002000000001"},
        {"other-sas", "kind=scsi; vendor=ACME; product=SAS Disk; serial=ACS0001; revision=A100; oui=0x00A0B0"},
        {"vt-nvme1", "kind=nvme; model=VT NVMe 3000; serial=VTN0001; revision=VT01; oui=0x02A003"},
        {"other-nvme", "kind=nvme; model=Acme NVMe 1; serial=ACN0001; revision=AN10; oui=0x00A0B0"},
    };
}

const char kMixedListing[] =
    "Number of VT drives found = 4\n\n"
    "Dev   Model                            Serial Number        FW Rev   Type\n"
    "  0   VT-2000 Series                   VTA0001              VT01     ATA\n"
    "  1   VT-1500 Series                   VTA0002              VT01     ATA\n"
    "  2   VT SAS-900                       VTS0001              VT01     SCSI\n"
    "  3   VT NVMe 3000                     VTN0001              VT01     NVMe\n\n";

TEST(E2eListing, ListsEveryVtDriveOnceAndLeavesOtherMakersOut)
{
    const Farm farm(MixedFarm());
    const ProgramResult plain = farm.run({"-list"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.output, ExpectedBanner() + kMixedListing);

    const ProgramResult debug = farm.run({"-list", "-debug"});
    EXPECT_EQ(debug.status, 0);
    EXPECT_NE(debug.output.find(kMixedListing), std::string::npos) << debug.output;
    const auto same = LinesWith(debug.output, "] is same as [");
    ASSERT_EQ(same.size(), 1u) << debug.output;
    EXPECT_NE(same[0].find("(VT-1500 Series VTA0002)"), std::string::npos) << same[0];
    EXPECT_EQ(LinesWith(debug.output, "Non-VT drive").size(), 3u);
    EXPECT_NE(debug.output.find("Non-VT drive\n  Model String = Acme Disk 500\n  Serial Number= ACM0001\n"),
              std::string::npos);
    EXPECT_NE(debug.output.find("Non-VT drive\n  Model String = ACME SAS Disk\n  Serial Number= ACS0001\n"),
              std::string::npos);
    EXPECT_NE(debug.output.find("Non-VT drive\n  Model String = Acme NVMe 1\n  Serial Number= ACN0001\n"),
              std::string::npos);
}

// Eight ATA drives that take a one-segment image quickly.
std::vector<SimDrive> SelectionFarm()
{
    std::vector<SimDrive> drives;
    for (int i = 0; i < 8; ++i)
        drives.push_back({"sel" + std::to_string(i), Ata("VT-100 Series", "SEL000" + std::to_string(i))});
    return drives;
}

std::vector<std::string> DevicesActedOn(const ProgramResult& result)
{
    return LinesWith(result.output, "Device ");
}

std::string DeviceLine(int number, const char* revision = "VT01")
{
    return "Device " + std::to_string(number) + " = VT-100 Series  SEL000" + std::to_string(number) + "  FW " +
           revision;
}

TEST(E2eSelection, DeviceListForms)
{
    const Farm farm(SelectionFarm());
    farm.writeImage("fw.bin", "VT", "VT02", 4096);

    // Numbers of 1024 and more are ignored: only drive 2 is listed and updated.
    const ProgramResult some = farm.run({"fw.bin", "-dev", "1500,2"});
    EXPECT_EQ(some.status, 0);
    EXPECT_EQ(DevicesActedOn(some), std::vector<std::string>{DeviceLine(2)}) << some.output;
    EXPECT_NE(some.output.find("  2   VT-100 Series"), std::string::npos);
    EXPECT_EQ(some.output.find("  0   VT-100 Series"), std::string::npos);
    EXPECT_EQ(farm.savedRevision("ata", "SEL0002"), "VT02");
    EXPECT_EQ(farm.savedRevision("ata", "SEL0001"), "");

    // Mixed case is not the all form: it names no drive, so none is acted on.
    const ProgramResult mixedCase = farm.run({"fw.bin", "-dev", "All"});
    EXPECT_EQ(mixedCase.status, 0);
    EXPECT_TRUE(DevicesActedOn(mixedCase).empty()) << mixedCase.output;
    EXPECT_NE(mixedCase.output.find("  Successful Downloads =   0\n  Failed Downloads     =   0\n"), std::string::npos)
        << mixedCase.output;

    // N ends the run before the drives are even looked for.
    const ProgramResult none = farm.run({"fw.bin", "-dev", "N"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.output.find("Number of VT drives found"), std::string::npos) << none.output;
    EXPECT_TRUE(DevicesActedOn(none).empty());

    const ProgramResult all = farm.run({"fw.bin", "-dev", "ALL"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.output.find("Enter your drive selection"), std::string::npos);
    // Drive 2 runs the new revision since the first run.
    EXPECT_EQ(DevicesActedOn(all),
              (std::vector<std::string>{DeviceLine(0), DeviceLine(1), DeviceLine(2, "VT02"), DeviceLine(3),
                                        DeviceLine(4), DeviceLine(5), DeviceLine(6), DeviceLine(7)}))
        << all.output;
    EXPECT_NE(all.output.find("  Successful Downloads =   8\n  Failed Downloads     =   0\n"), std::string::npos);
    EXPECT_EQ(farm.savedRevision("ata", "SEL0007"), "VT02");
}

TEST(E2eSelection, PromptAnsweredOnStandardInput)
{
    const Farm farm(SelectionFarm());
    farm.writeImage("fw.bin", "VT", "VT02", 4096);

    for (const char* refusal : {"\n", "n\n"}) {
        const ProgramResult result = farm.run({"fw.bin"}, refusal);
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.output.find("Enter your drive selection(s):  \nNo drives were selected, so no firmware "
                                     "was downloaded\n"),
                  std::string::npos)
            << result.output;
        EXPECT_TRUE(DevicesActedOn(result).empty());
    }

    const ProgramResult picked = farm.run({"fw.bin"}, "5x7\n");
    EXPECT_EQ(picked.status, 0);
    EXPECT_EQ(DevicesActedOn(picked), (std::vector<std::string>{DeviceLine(5), DeviceLine(7)})) << picked.output;
    EXPECT_EQ(farm.savedRevision("ata", "SEL0005"), "VT02");
    EXPECT_EQ(farm.savedRevision("ata", "SEL0006"), "");

    const ProgramResult all = farm.run({"fw.bin"}, "all\n");
    EXPECT_EQ(all.status, 0);
    // Drives 5 and 7 now run VT02.
    EXPECT_EQ(DevicesActedOn(all).size(), 8u) << all.output;
    EXPECT_EQ(DevicesActedOn(all)[0], DeviceLine(0));
    EXPECT_NE(all.output.find("  Successful Downloads =   8\n"), std::string::npos);
}

TEST(E2eSelection, ModelStringFile)
{
    const Farm farm({{"m0", Ata("VT-Alpha", "MOD0000")},
                     {"m1", Ata("VT-Beta", "MOD0001", "VT02")},
                     {"m2", Ata("VT-Gamma", "MOD0002")}});
    farm.writeImage("alpha.bin", "VT-Alpha", "VT03", 4096);
    farm.writeImage("other.bin", "VT-Alpha", "VT09", 4096);
    farm.writeImage("beta.bin", "VT-Beta", "VT05", 4096);
    WriteFile(farm.dir() / "models.txt",
              "VT-Alpha,VT01,alpha-old.bin\n"   // the drive already runs VT01: no match
              "VT-Alpha,VT00,alpha.bin\n"       // the first line that matches wins
              "VT-Alpha,VT00,other.bin\n"
              "VT-Beta,VT02,beta.bin\n"         // already at the listed revision: skipped
              "VT-Gamma,VT00,missing.bin\n");   // cannot be opened: reported, not counted

    const ProgramResult result = farm.run({"-model", "models.txt"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("Device 0 = VT-Alpha  MOD0000  FW VT01\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("  VT-Alpha  MOD0000  FW VT03\n"), std::string::npos);
    EXPECT_EQ(result.output.find("Device 1 ="), std::string::npos);
    EXPECT_NE(result.output.find("Device 2 = VT-Gamma  MOD0002  FW VT01\n"
                                 "  ERROR: Firmware WAS NOT downloaded - cannot open firmware file 'missing.bin'\n\n"),
              std::string::npos);
    EXPECT_NE(result.output.find("  Successful Downloads =   1\n  Failed Downloads     =   0\n"), std::string::npos);
    EXPECT_EQ(farm.savedRevision("ata", "MOD0000"), "VT03");
    EXPECT_EQ(farm.savedRevision("ata", "MOD0001"), "");

    const ProgramResult missing = farm.run({"-model", "nothing.txt"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.output.find("ERROR: Cannot open Model String file 'nothing.txt'\n"), std::string::npos);
}

}  // namespace
}  // namespace firmstep::test
