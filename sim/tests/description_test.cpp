// Drive descriptions: what they set, and refusals that name the key and the problem.
#include <cvcrt.h>

#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(Description, ParsesEveryKindWithDefaultsAndDerivedNames) {
    DriveDescription ata;
    DescriptionError error;
    ASSERT_TRUE(parseDriveDescriptionText(
        "# a comment\nkind = ATA\nmodel = VT-1\nserial=S1\nrevision=R1\noui=0x02A001\ndma=yes\n"
        "fault.fail_segment=3; fault.delay_ms=5",
        ata, error))
        << error.message();
    EXPECT_EQ(ata.kind, DriveKind::Ata);
    EXPECT_TRUE(ata.dma);
    EXPECT_EQ(ata.maxDownloadBlocks, 128);
    EXPECT_EQ(ata.wwn >> 60, 5u);
    EXPECT_EQ(ata.wwn >> 36 & 0xFFFFFF, 0x02A001u);
    EXPECT_EQ(ata.faults.failSegment, 3u);
    EXPECT_EQ(ata.faults.delayMs, 5u);

    DriveDescription scsi;
    ASSERT_TRUE(parseDriveDescriptionText("kind=scsi; vendor=VT; product=X 1; serial=S; revision=A1; "
                                          "wwn=0x5000CCA012345678",
                                          scsi, error))
        << error.message();
    EXPECT_EQ(scsi.displayModel(), "VT X 1");
    EXPECT_EQ(scsi.oui, 0x000CCAu);
    EXPECT_EQ(scsi.maxDownloadBlocks, 0);

    // The same description from an INI section's map.
    StringMap* map = StringMap_Create();
    StringMap_SetValue(map, "Kind", "nvme");
    StringMap_SetValue(map, "Model", "VT N");
    StringMap_SetValue(map, "Serial", "N1");
    StringMap_SetValue(map, "Revision", "NV000001");
    StringMap_SetValue(map, "Firmware_Slots", "4");
    DriveDescription nvme;
    EXPECT_TRUE(parseDriveDescription(map, nvme, error)) << error.message();
    StringMap_Destroy(map);
    EXPECT_EQ(nvme.firmwareSlots, 4);
}

TEST(Description, MalformedDescriptionsNameTheKeyAndTheProblem) {
    const std::string ata = "kind=ata; model=VT; serial=S; revision=R; ";
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"model=VT; serial=S; revision=R", "key 'kind': missing"},
        {"kind=sas; model=VT", "key 'kind': not ata, scsi or nvme: 'sas'"},
        {"kind=ata; serial=S; revision=R", "key 'model': missing"},
        {ata + "colour=blue", "key 'colour': unknown key"},
        {ata + "fwug=1", "key 'fwug': only for nvme drives"},
        {"kind=scsi; model=X; serial=S; revision=R", "key 'model': only for ata and nvme drives"},
        {"kind=scsi; vendor=V; product=P; serial=S; revision=R12345", "key 'revision': longer than 4 characters"},
        {"kind=ata; model=VT; serial=S 1; revision=R", "key 'serial': must not contain blanks"},
        {ata + "capacity_blocks=12ab", "key 'capacity_blocks': not a number: '12ab'"},
        {ata + "max_download_blocks=70000", "key 'max_download_blocks': out of range: 70000 (allowed 0 to 65535)"},
        {ata + "wwn=0x6000000000000001", "key 'wwn': not an NAA-5 name (16 hex digits starting with 5)"},
        {ata + "wwn=0x5000CCA012345678; oui=0x02A001", "key 'oui': does not match the OUI inside wwn"},
        {ata + "dma=maybe", "key 'dma': not yes or no: 'maybe'"},
        {ata + "serial=T", "key 'serial': given more than once"},
        {ata + "lba48", "key 'lba48': expected key=value"},
        {ata + "min_download_blocks=9; max_download_blocks=8", "key 'min_download_blocks': larger than max_download_blocks"},
        {ata + "lba48=no; capacity_blocks=0x10000000", "key 'capacity_blocks': needs lba48 above 268435455 blocks"},
        {"kind=nvme; model=VT; serial=S; revision=R; firmware_slots=8", "key 'firmware_slots': out of range: 8 (allowed 1 to 7)"},
        {"kind=nvme; model=VT; serial=S; revision=R; activation_reset=warm",
         "key 'activation_reset': not conventional, subsystem or controller: 'warm'"},
    };
    for (const Case& c : cases) {
        DriveDescription drive;
        DescriptionError error;
        EXPECT_FALSE(parseDriveDescriptionText(c.text, drive, error)) << c.text;
        EXPECT_EQ(error.message(), c.message) << c.text;
    }
}

}  // namespace
}  // namespace simdrive::test
