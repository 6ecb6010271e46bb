#include "drive_discovery.h"
#include "drive_identity.h"
#include "fake_drives.h"
#include "identity_decode.h"
#include "nvme_admin.h"
#include "vt_drive.h"

#include <device_contracts.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace firmstep {
namespace {

using test::FakeDrive;
using test::FakeFramework;
using test::FakeMachine;
using test::FakeResource;
using test::FakeService;
using test::OutputCapture;

FakeDrive AtaDrive(const std::string& model, const std::string& serial, const std::string& revision)
{
    FakeDrive drive;
    drive.model = model;
    drive.serial = serial;
    drive.revision = revision;
    drive.maxDownloadBlocks = 64;
    return drive;
}

FakeDrive ScsiDrive(const std::string& vendor, const std::string& product, const std::string& serial,
                    const std::string& revision)
{
    FakeDrive drive;
    drive.vendor = vendor;
    drive.product = product;
    drive.serial = serial;
    drive.revision = revision;
    return drive;
}

FakeDrive NvmeDrive(const std::string& model, const std::string& serial, const std::string& revision,
                    std::uint32_t oui)
{
    FakeDrive drive;
    drive.model = model;
    drive.serial = serial;
    drive.revision = revision;
    drive.nvmeOui = oui;
    return drive;
}

// The outcome of one discovery on a fake machine.
struct Discovery {
    int result = 0;
    CvError error{};
    std::string printed;
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
};

Discovery Discover(FakeMachine& machine, std::uint32_t flags = 0, std::int32_t sdsbPort = 0)
{
    Discovery d;
    d.state->flags = flags;
    d.state->sdsbPort = sdsbPort;
    FakeFramework framework(machine);
    OutputCapture capture;
    d.result = DiscoverDrives(machine.uid, *d.state, d.error);
    d.printed = capture.Text();
    return d;
}

TEST(IdentityDecode, TextsAreCutAndTrimmedOnSpacesOnly)
{
    char out[21];
    const auto* raw = reinterpret_cast<const std::uint8_t*>("  AB C \t  ");
    CopyTrimmedText(out, sizeof out, raw, 10, false);
    EXPECT_STREQ(out, "AB C \t");
    const auto* swapped = reinterpret_cast<const std::uint8_t*>("TV0100  ");
    CopyTrimmedText(out, sizeof out, swapped, 8, true);
    EXPECT_STREQ(out, "VT1000");
    const auto* longField = reinterpret_cast<const std::uint8_t*>("0123456789");
    CopyTrimmedText(out, 5, longField, 10, false);
    EXPECT_STREQ(out, "0123");
}

TEST(IdentityDecode, AtaCapacityPicksTheAddressingTheDriveHas)
{
    EXPECT_EQ(AtaCapacityGB(0x0FFFFFFF, 1953525168, 0x0400), 1000u);  // 1 TB, 48-bit
    EXPECT_EQ(AtaCapacityGB(0x0FFFFFFF, 1953525168, 0x0000), 137u);   // 28-bit ceiling
    EXPECT_EQ(AtaCapacityGB(0, 0, 0x0400), 0u);
}

TEST(IdentityDecode, AtaFieldsThroughTheService)
{
    FakeMachine machine;
    FakeDrive drive = AtaDrive("VT4000-A", "SN0001", "A1B2");
    drive.word83 = 0x0400;
    drive.capacity28 = 0x0FFFFFFF;
    drive.capacity48 = 1953525168;
    drive.wwn[0] = 0x502A;  // OUI 0x02A001
    drive.wwn[1] = 0x0010;
    drive.wwn[2] = 0x1234;
    drive.wwn[3] = 0x5678;
    machine.resources = {{1, {{2, "ata/device", drive}}}};
    FakeFramework framework(machine);
    DriveIdentity id{};
    CvError error{};
    ASSERT_EQ(ReadAtaIdentity(machine.uid, {1, 2}, 0, id, error), 1);
    EXPECT_STREQ(id.model, "VT4000-A");
    EXPECT_STREQ(id.serialNumber, "SN0001");
    EXPECT_STREQ(id.firmwareRevision, "A1B2");
    EXPECT_EQ(id.capacity28, 0x0FFFFFFFu);
    EXPECT_EQ(id.capacity48, 1953525168u);
    EXPECT_EQ(id.capacityGB, 1000u);
    EXPECT_EQ(id.commandSetWord, 0x0400);
    EXPECT_EQ(id.wwn[2], 0x1234);
    EXPECT_EQ(id.wwn[3], 0x5678);
    EXPECT_EQ(id.minDownloadBlocks, 1);
    EXPECT_EQ(id.maxDownloadBlocks, 64);
    EXPECT_EQ(WwnOui(id), 0x02A001u);

    // The command: IDENTIFY DEVICE, PIO in, one block of 512 bytes.
    ASSERT_EQ(machine.received.size(), 1u);
    const test::ReceivedCommand& sent = machine.received[0];
    EXPECT_EQ(sent.command.function, DEVICE_FUNCTION_DO_COMMAND);
    EXPECT_EQ(sent.command.tag, CV_COMMAND_TAG_NONE);
    EXPECT_EQ(sent.command.bufferLengths[0], ATA_COMMAND_BLOCK_SIZE);
    EXPECT_EQ(sent.command.bufferLengths[1], 512u);
    AtaCommandBlock block;
    std::memcpy(&block, sent.block.data(), sizeof block);
    EXPECT_EQ(block.protocol, ATA_PROTOCOL_PIO_IN);
    EXPECT_EQ(block.command, 0xEC);
    EXPECT_EQ(block.count, 1);
    EXPECT_EQ(std::uint32_t{block.inputMask}, 0x808u);
    EXPECT_EQ(std::uint32_t{block.outputMask}, 0xAABu);
    EXPECT_EQ(block.device, 0);
    EXPECT_EQ(std::uint64_t{block.timeOrTimeout}, 0u);
}

TEST(IdentityDecode, AtaSecondSdsbPortAddressesDeviceA2)
{
    FakeMachine machine;
    machine.resources = {{1, {{2, "ata/device", AtaDrive("VT1", "S", "R")}}}};
    FakeFramework framework(machine);
    DriveIdentity id{};
    CvError error{};
    ASSERT_EQ(ReadAtaIdentity(machine.uid, {1, 2}, 1, id, error), 1);
    AtaCommandBlock block;
    std::memcpy(&block, machine.received[0].block.data(), sizeof block);
    EXPECT_EQ(block.device, 0xA2);
    EXPECT_EQ(std::uint32_t{block.inputMask}, 0x809u);
}

TEST(IdentityDecode, ScsiInquiriesAndModel)
{
    FakeMachine machine;
    FakeDrive drive = ScsiDrive("VELTRANE", "VT9000-SAS", "SCSI77", "C3D4");
    drive.wwn[0] = 0x502A;  // OUI 0x02A005
    drive.wwn[1] = 0x0050;
    machine.resources = {{1, {{2, "scsi/device", drive}}}};
    FakeFramework framework(machine);
    DriveIdentity id{};
    CvError error{};
    ASSERT_EQ(ReadScsiIdentity(machine.uid, {1, 2}, id, error), 1);
    EXPECT_STREQ(id.model, "VELTRANE VT9000-SAS");
    EXPECT_STREQ(id.serialNumber, "SCSI77");
    EXPECT_STREQ(id.firmwareRevision, "C3D4");
    EXPECT_EQ(id.wwn[0], 0x502A);
    EXPECT_EQ(id.wwn[1], 0x0050);
    EXPECT_TRUE(IsVtDrive(id));
    EXPECT_EQ(id.minDownloadBlocks, 1);
    EXPECT_EQ(id.maxDownloadBlocks, 32);
    EXPECT_EQ(id.capacityGB, 0u);

    // Standard data (96), page 0x80 (64), page 0x83 (76).
    ASSERT_EQ(machine.received.size(), 3u);
    const std::uint8_t expected[3][6] = {
        {0x12, 0, 0x00, 0, 96, 0}, {0x12, 1, 0x80, 0, 64, 0}, {0x12, 1, 0x83, 0, 76, 0}};
    for (int i = 0; i < 3; ++i) {
        ScsiCommandBlock block;
        std::memcpy(&block, machine.received[i].block.data(), sizeof block);
        EXPECT_EQ(block.direction, SCSI_DIRECTION_IN);
        EXPECT_EQ(block.cdbLength, 6);
        EXPECT_EQ(std::memcmp(block.cdb, expected[i], 6), 0) << "inquiry " << i;
        EXPECT_EQ(machine.received[i].command.bufferLengths[1], expected[i][4]);
    }
}

TEST(IdentityDecode, ScsiVendorOfSpacesLeavesALeadingSpace)
{
    FakeMachine machine;
    machine.resources = {{1, {{2, "scsi/device", ScsiDrive("", "VT9000", "S1", "R1")}}}};
    FakeFramework framework(machine);
    DriveIdentity id{};
    CvError error{};
    ASSERT_EQ(ReadScsiIdentity(machine.uid, {1, 2}, id, error), 1);
    EXPECT_STREQ(id.model, " VT9000");
    EXPECT_FALSE(IsVtDrive(id));  // the prefix test sees the space
}

TEST(IdentityDecode, NvmeIdentifyAndWwnFromOui)
{
    FakeMachine machine;
    machine.resources = {{1, {{2, "nvme/device", NvmeDrive("VT NVMe 2TB", "NV42", "N1.0", 0x02A004)}}}};
    FakeFramework framework(machine);
    SetNvmeCommandNumber(41);
    DriveIdentity id{};
    CvError error{};
    ASSERT_EQ(ReadNvmeIdentity(machine.uid, {1, 2}, id, error), 1);
    EXPECT_STREQ(id.model, "VT NVMe 2TB");
    EXPECT_STREQ(id.serialNumber, "NV42");
    EXPECT_STREQ(id.firmwareRevision, "N1.0");
    EXPECT_EQ(id.wwn[0], 0x5000 | (0x02A004 >> 12));
    EXPECT_EQ(id.wwn[1], (0x02A004 << 4) & 0xFFFF);
    EXPECT_EQ(WwnOui(id), 0x02A004u);
    EXPECT_EQ(id.firmwareUpdate, 0x06);
    EXPECT_EQ(id.firmwareUpdateGranularity, 0x02);
    EXPECT_EQ(id.namespaceCount, 1u);
    EXPECT_EQ(id.capacity28, 4096u);
    EXPECT_EQ(id.maxDownloadBlocks, 8);

    ASSERT_EQ(machine.received.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        NvmeCommandBlock block;
        std::memcpy(&block, machine.received[i].block.data(), sizeof block);
        EXPECT_EQ(machine.received[i].command.function, NVME_DEVICE_FUNCTION_ADMIN_COMMAND);
        EXPECT_EQ(machine.received[i].command.tag, 41u + static_cast<unsigned>(i));  // running number
        EXPECT_EQ(machine.received[i].command.bufferLengths[1], 4096u);
        EXPECT_EQ(block.submission.opcode, NVME_ADMIN_IDENTIFY);
        EXPECT_EQ(std::uint32_t{block.submission.namespaceId}, i == 0 ? 0u : 1u);
        EXPECT_EQ(std::uint32_t{block.submission.cdw10}, i == 0 ? 1u : 0u);
        EXPECT_EQ(std::uint64_t{block.timeout}, 15000000000u);
    }
}

TEST(IdentityDecode, NvmeFailedCompletionCarriesTheStatus)
{
    FakeMachine machine;
    FakeDrive drive = NvmeDrive("VT N", "NV1", "N1", 0x02A004);
    drive.nvmeStatus = (0x0B << 1) | 1;  // status 0x0B with the phase tag
    machine.resources = {{1, {{2, "nvme/device", drive}}}};
    FakeFramework framework(machine);
    DriveIdentity id{};
    std::strcpy(id.model, "unchanged");
    CvError error{};
    EXPECT_EQ(ReadNvmeIdentity(machine.uid, {1, 2}, id, error), 0);
    EXPECT_EQ(error.code, 0x0B);
    EXPECT_STREQ(error.message, "identify controller failed");
    EXPECT_STREQ(id.model, "unchanged");  // a failed read leaves the identity alone

    // The phase tag alone is no failure.
    machine.resources[0].services[0].drive->nvmeStatus = 1;
    EXPECT_EQ(ReadNvmeIdentity(machine.uid, {1, 2}, id, error), 1);
}

TEST(IdentityDecode, NvmeCommandNumberWrapsToZero)
{
    SetNvmeCommandNumber(2147483647);
    EXPECT_EQ(NextNvmeCommandNumber(), 2147483647u);
    EXPECT_EQ(NextNvmeCommandNumber(), 0u);
    EXPECT_EQ(NextNvmeCommandNumber(), 1u);
}

TEST(VtTest, OuiListAndModelPrefixes)
{
    DriveIdentity id{};
    for (std::uint32_t oui = 0x02A000; oui <= 0x02A007; ++oui) {
        id.wwn[0] = static_cast<std::uint16_t>(0x5000 | (oui >> 12));
        id.wwn[1] = static_cast<std::uint16_t>((oui << 4) & 0xFFFF);
        EXPECT_EQ(IsVtDrive(id), oui >= 0x02A001 && oui <= 0x02A006) << std::hex << oui;
    }
    id.wwn[0] = id.wwn[1] = 0;
    for (const char* model : {"VT", "VT1000", "KX-1", "KY", "Ky2"}) {
        std::strcpy(id.model, model);
        EXPECT_TRUE(IsVtDrive(id)) << model;
    }
    for (const char* model : {"vt1000", "Vt", "kx", "KZ", "V", "", " VT"}) {
        std::strcpy(id.model, model);
        EXPECT_FALSE(IsVtDrive(id)) << model;
    }
}

TEST(Discovery, FoldsOneDriveSeenThroughTwoServices)
{
    FakeMachine machine;
    const FakeDrive shared = AtaDrive("VT1000", "SN-A", "R1");
    machine.resources = {
        {10, {{11, "ata/device", shared}, {12, "resource/information", std::nullopt}}},
        {20, {{21, "scsi/device", ScsiDrive("VT", "OTHER", "SN-B", "R2")}}},
        {30, {{31, "ata/device", shared}}},
    };
    const Discovery d = Discover(machine, kFlagDebug);
    ASSERT_EQ(d.result, 1) << d.error.message;
    EXPECT_EQ(d.printed, "  [ 10  11] is same as [ 30  31] (VT1000 SN-A)\n");
    const DriveTable& table = d.state->drives;
    ASSERT_EQ(table.count, 2u);
    EXPECT_EQ(table.machine, machine.uid);
    EXPECT_EQ(table.rows[0].marks, kMarkAta);
    ASSERT_EQ(table.rows[0].pathCount, 2u);
    EXPECT_EQ(table.rows[0].paths[0].resource, 10u);
    EXPECT_EQ(table.rows[0].paths[0].service, 11u);
    EXPECT_EQ(table.rows[0].paths[1].resource, 30u);
    EXPECT_EQ(table.rows[0].paths[1].service, 31u);
    EXPECT_EQ(table.rows[1].marks, kMarkScsi);
    EXPECT_STREQ(table.rows[1].identity.model, "VT OTHER");
    // Services of other types receive no command.
    for (const auto& sent : machine.received)
        EXPECT_NE(sent.service, 12u);

    // Without "-debug" the fold is silent.
    EXPECT_EQ(Discover(machine).printed, "");
}

TEST(Discovery, ResourceWithBothServicesFoldsWhenModelAndSerialAgree)
{
    FakeMachine machine;
    machine.resources = {{10,
                          {{11, "ata/device", AtaDrive("VT 1", "SAME", "R1")},
                           {12, "scsi/device", ScsiDrive("VT", "1", "SAME", "R1")},
                           {13, "scsi/device", ScsiDrive("VT", "1", "OTHER", "R1")}}}};
    const Discovery d = Discover(machine);
    ASSERT_EQ(d.result, 1);
    ASSERT_EQ(d.state->drives.count, 2u);
    EXPECT_EQ(d.state->drives.rows[0].pathCount, 2u);
    EXPECT_EQ(d.state->drives.rows[0].marks, kMarkAta);  // the first path decides the type
    EXPECT_EQ(d.state->drives.rows[1].pathCount, 1u);
}

TEST(Discovery, AtMostSixteenPathsPerDrive)
{
    FakeMachine machine;
    for (CvUID r = 0; r < 20; ++r)
        machine.resources.push_back({100 + r, {{200 + r, "ata/device", AtaDrive("VT1", "S", "R")}}});
    const Discovery d = Discover(machine);
    ASSERT_EQ(d.state->drives.count, 1u);
    EXPECT_EQ(d.state->drives.rows[0].pathCount, 16u);
    EXPECT_EQ(d.state->drives.rows[0].paths[15].service, 215u);
}

TEST(Discovery, NonVtDrivesAreLeftOutAndShownWithDebug)
{
    FakeMachine machine;
    FakeDrive zeroWwnVt = AtaDrive("VT2000", "Z1", "R");       // WWN zero, model prefix
    FakeDrive lowerCase = AtaDrive("vt3000", "L1", "R");       // unlisted OUI, lower-case prefix
    lowerCase.wwn[0] = 0x5001;
    lowerCase.wwn[1] = 0x2340;
    FakeDrive byOui = AtaDrive("Generic", "G1", "R");          // listed OUI, any model
    byOui.wwn[0] = 0x502A;  // OUI 0x02A006
    byOui.wwn[1] = 0x0060;
    machine.resources = {{1, {{2, "ata/device", zeroWwnVt}}},
                         {3, {{4, "ata/device", lowerCase}}},
                         {5, {{6, "nvme/device", NvmeDrive("Other", "N1", "R", 0x001B44)}}},
                         {7, {{8, "ata/device", byOui}}}};
    const Discovery d = Discover(machine, kFlagDebug);
    ASSERT_EQ(d.result, 1);
    ASSERT_EQ(d.state->drives.count, 2u);
    EXPECT_STREQ(d.state->drives.rows[0].identity.model, "VT2000");
    EXPECT_STREQ(d.state->drives.rows[1].identity.model, "Generic");
    EXPECT_EQ(d.printed,
              "Non-VT drive\n"
              "  Model String = vt3000\n"
              "  Serial Number= L1\n"
              "  WWN          = 0x5001 0x2340\n"
              "Non-VT drive\n"
              "  Model String = Other\n"
              "  Serial Number= N1\n"
              "  WWN          = 0x5001 0xB440\n");
    EXPECT_EQ(Discover(machine).printed, "");
}

TEST(Discovery, ServiceTypesMatchByPrefix)
{
    FakeMachine machine;
    machine.resources = {{1,
                          {{2, "ata/device-extra", AtaDrive("VT1", "A", "R")},
                           {3, "ata/devic", AtaDrive("VT2", "B", "R")},
                           {4, "scsi/devices", ScsiDrive("VT", "3", "C", "R")},
                           {5, "nvme/device/x", NvmeDrive("VT4", "D", "R", 0)}}}};
    const Discovery d = Discover(machine);
    ASSERT_EQ(d.state->drives.count, 3u);
    EXPECT_EQ(d.state->drives.rows[0].marks, kMarkAta);
    EXPECT_EQ(d.state->drives.rows[1].marks, kMarkScsi);
    EXPECT_EQ(d.state->drives.rows[2].marks, kMarkNvme);
}

TEST(Discovery, FailuresAndNoVtDrive)
{
    FakeMachine machine;
    FakeDrive silent = AtaDrive("VT1", "S", "R");
    silent.failIdentify = true;
    machine.resources = {{1, {{2, "ata/device", silent}, {3, "scsi/device", ScsiDrive("X", "Y", "Z", "R")}}}};
    Discovery d = Discover(machine, kFlagDebug);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(d.error.message, "Unable to find a VT service on any resource on machine 7");
    EXPECT_EQ(d.printed, "Non-VT drive\n  Model String = X Y\n  Serial Number= Z\n  WWN          = 0x0 0x0\n");

    machine.failResourceList = true;
    d = Discover(machine);
    EXPECT_EQ(d.result, 0);
    EXPECT_STREQ(d.error.message, "No machine with UID 7");

    machine.failResourceList = false;
    machine.resources.push_back({9, {{10, "ata/device", AtaDrive("VT9", "S9", "R")}}});
    machine.failServiceListOf = 9;
    d = Discover(machine);
    EXPECT_EQ(d.result, 0);
    EXPECT_STREQ(d.error.message, "Resource 9 went away");
}

TEST(Discovery, SelectionMarksSetBeforeDiscoveryStay)
{
    FakeMachine machine;
    machine.resources = {{1, {{2, "ata/device", AtaDrive("VT1", "A", "R")}}},
                         {3, {{4, "ata/device", AtaDrive("VT1", "A", "R")}}},
                         {5, {{6, "ata/device", AtaDrive("VT2", "B", "R")}}}};
    Discovery d;
    d.state->drives.rows[1].marks = kMarkSelected;
    d.state->drives.rows[7].marks = kMarkSelected;
    FakeFramework framework(machine);
    ASSERT_EQ(DiscoverDrives(machine.uid, *d.state, d.error), 1);
    EXPECT_EQ(d.state->drives.count, 2u);
    EXPECT_EQ(d.state->drives.rows[0].marks, kMarkAta);
    EXPECT_EQ(d.state->drives.rows[1].marks, kMarkAta | kMarkSelected);
    EXPECT_EQ(d.state->drives.rows[7].marks, kMarkSelected);  // beyond the count, untouched
}

TEST(Discovery, TableHoldsAtMost1024Drives)
{
    FakeMachine machine;
    for (CvUID r = 0; r < 1030; ++r)
        machine.resources.push_back({r, {{5000 + r, "ata/device", AtaDrive("VT1", "S" + std::to_string(r), "R")}}});
    const Discovery d = Discover(machine);
    ASSERT_EQ(d.result, 1);
    EXPECT_EQ(d.state->drives.count, 1024u);
    EXPECT_STREQ(d.state->drives.rows[1023].identity.serialNumber, "S1023");
}

// Fills a state with drives for the listing.
std::unique_ptr<RunState> ListedState()
{
    auto state = std::make_unique<RunState>();
    DriveTable& table = state->drives;
    table.count = 3;
    const struct {
        std::uint32_t type;
        const char* model;
        const char* serial;
        const char* revision;
    } rows[] = {{kMarkAta, "VT1000", "SN-A", "A1"},
                {kMarkScsi, "VELTRANE VT9000-SAS", "SCSI77", "C3D4"},
                {kMarkNvme, "VT NVMe 2TB", "NV42", "N1.0"}};
    for (std::uint32_t i = 0; i < 3; ++i) {
        table.rows[i].marks = rows[i].type;
        std::strcpy(table.rows[i].identity.model, rows[i].model);
        std::strcpy(table.rows[i].identity.serialNumber, rows[i].serial);
        std::strcpy(table.rows[i].identity.firmwareRevision, rows[i].revision);
    }
    return state;
}

TEST(Listing, ColumnsNumbersAndTypes)
{
    auto state = ListedState();
    EXPECT_EQ(FormatDriveList(*state),
              "This application can download firmware to the following VT drives.\n\n"
              "Number of VT drives found = 3\n\n"
              "Dev   Model                            Serial Number        FW Rev   Type\n"
              "  0   VT1000                           SN-A                 A1       ATA\n"
              "  1   VELTRANE VT9000-SAS              SCSI77               C3D4     SCSI\n"
              "  2   VT NVMe 2TB                      NV42                 N1.0     NVMe\n"
              "\n");
    state->flags = kFlagActivate;
    EXPECT_EQ(FormatDriveList(*state).rfind("This application can activate firmware on the following VT drives.\n\n"
                                            "Number of VT drives found = 3\n\n",
                                            0),
              0u);
}

TEST(Listing, ExplicitSelectionShowsOnlyMarkedRows)
{
    auto state = ListedState();
    state->explicitSelection = true;
    state->drives.rows[2].marks |= kMarkSelected;
    state->drives.rows[9].marks |= kMarkSelected;  // beyond the count
    state->flags = kFlagListOnly;
    EXPECT_EQ(FormatDriveList(*state),
              "Number of VT drives found = 3\n\n"
              "Dev   Model                            Serial Number        FW Rev   Type\n"
              "  2   VT NVMe 2TB                      NV42                 N1.0     NVMe\n"
              "\n");
    state->drives.rows[2].marks &= ~kMarkSelected;  // "-dev All": nothing listed
    EXPECT_EQ(FormatDriveList(*state),
              "Number of VT drives found = 3\n\n"
              "Dev   Model                            Serial Number        FW Rev   Type\n"
              "\n");
}

}  // namespace
}  // namespace firmstep
