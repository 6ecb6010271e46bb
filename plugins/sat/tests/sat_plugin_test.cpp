// cvpl-sat against ATA drives behind the simulated USB bridges: which disks
// it takes, the command blocks it builds, the read-back mode each kind of
// bridge ends in and the drive's verdict read back in every mode, and the
// decoding of what a bridge returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "sat_codec/sat_version.h"
#include "sat_sense_parse.h"
#include "sim_test_support.h"
#include "usb_bridge_fixture.h"

namespace {

using usb_bridge_test::UsbBridgeTest;

class SatPluginTest : public UsbBridgeTest {
protected:
    uint32_t requests() { return kernel().observed().sgRequests; }
    // The command block `back` requests before the last one.
    std::vector<uint8_t> cdbBefore(std::size_t back) {
        const auto recent = kernel().observed().recentCdbs;
        return back < recent.size() ? recent[recent.size() - 1 - back] : std::vector<uint8_t>{};
    }
};

TEST_F(SatPluginTest, TakesDisksWhoseBridgePassesIdentifyAndNoOthers) {
    auto& sat = bridged("/dev/sdu", "sat", "USB0001");
    auto& noAta = bridged("/dev/sdv", "no-ata", "USB0002");
    auto& atacb = bridged("/dev/sdw", "atacb", "USB0003");
    const CvUID plugin = loadPlugin("cvpl-sat");
    drainEvents();
    EXPECT_NE(CV_UID_NONE, serviceOf(sat.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(CV_UID_NONE, serviceOf(noAta.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(CV_UID_NONE, serviceOf(atacb.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING)) << "a disk that does not answer is left silently";
    EXPECT_EQ(0u, noAta.listenerCount());

    // Without settings the version is asked of each disk taken, with INQUIRY.
    const auto recent = kernel().observed().recentCdbs;
    EXPECT_EQ(1, std::count_if(recent.begin(), recent.end(), [](const auto& cdb) { return cdb.at(0) == 0x12; }));

    // A later disk arrives through a hot-plug event; its probe is IDENTIFY in
    // a 12-byte block, PIO data-in, one 512-byte block.
    auto& late = bridged("/dev/sdx", "sat", "USB0004");
    drainEvents();
    EXPECT_NE(CV_UID_NONE, serviceOf(late.resource(), ATA_DEVICE_SERVICE_TYPE));

    uint32_t capabilities = 0;
    EXPECT_EQ(1, run(sat.resource(), serviceOf(sat.resource(), ATA_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_GET_CAPABILITIES,
                     &capabilities, 4).result);
    EXPECT_EQ(0x0Cu, capabilities);
    unloadPlugin(plugin);
    EXPECT_EQ(CV_UID_NONE, serviceOf(sat.resource(), ATA_DEVICE_SERVICE_TYPE));
}

// The probe's command block, and a hollow bridge (GOOD without running the
// command) is no ATA disk.
TEST_F(SatPluginTest, ProbeIsIdentifyInTwelveBytesAndNeedsIdentifyData) {
    addDrive<simdrive::AtaDrive>("/dev/sdh", simdrive::test::kAtaVt);
    simdrive::LibataPort hollow;
    hollow.answersWithoutRunning = true;
    kernel().setLibataPort("/dev/sdh", hollow);
    auto& disk = publish("/dev/sdh", DRIVE_INFO_BUS_USB);
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "AtaFixedSenseDataVersion", "sat3");
    CvUID plugin = CV_UID_NONE;
    CvError error{};
    ASSERT_EQ(1, CvPluginManager_Load("cvpl-sat", settings, &plugin, &error)) << error.message;
    EXPECT_EQ(CV_UID_NONE, serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE));
    const std::vector<uint8_t> expected = {0xA1, 4 << 1, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0};
    EXPECT_EQ(expected, kernel().observed().cdb);
    EXPECT_EQ(60000u, kernel().observed().sgTimeoutMs);
    EXPECT_EQ(512u, kernel().observed().sgDataLength);
    unloadPlugin(plugin);

    StringMap_SetValue(settings, "AtaFixedSenseDataVersion", "SAT5");
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-sat", settings, &plugin, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Unknown ATA fixed sense data version: 'SAT5'", error.message);
    StringMap_Destroy(settings);
}

// Each kind of bridge ends in the mode the first command finds (counted in
// the requests it takes: the command, then one read as data, or that and a
// read as automatic sense, or both and REQUEST SENSE), keeps it, and in
// every mode a refused DOWNLOAD MICROCODE comes back with the drive's ABRT.
TEST_F(SatPluginTest, ReadBackModeFollowsTheBridgeAndCarriesTheDrivesVerdict) {
    struct Case {
        const char* bridge;
        uint32_t firstCommandRequests;  // 2: mode 3, 3: mode 2, 4: mode 1
        uint32_t readLength;            // data length of the read in that mode
    };
    const Case cases[] = {{"sat", 2, 22}, {"sat2-fixed", 2, 22}, {"sat3-fixed", 2, 22},
                          {"sat-autosense", 3, 0}, {"sat-errors-only", 4, 22}};
    const CvUID plugin = loadPlugin("cvpl-sat");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bridge);
        auto& disk = bridged("/dev/sdb" + std::to_string(n), c.bridge, "USBM" + std::to_string(n));
        ++n;
        drainEvents();
        ASSERT_NE(CV_UID_NONE, serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE));

        AtaCommandBlock identify = identifyBlock();
        std::vector<uint8_t> data(512);
        uint32_t before = requests();
        Outcome outcome = command(disk, identify, data.data(), 512);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        EXPECT_EQ(c.firstCommandRequests, requests() - before);
        EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, identify.resultFlags);
        EXPECT_EQ('V', data[27 * 2 + 1]);

        AtaCommandBlock refused = refusedDownload();
        std::vector<uint8_t> segment(512);
        before = requests();
        outcome = command(disk, refused, segment.data(), 512);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        EXPECT_EQ(2u, requests() - before) << "the mode was kept";
        EXPECT_EQ(c.readLength, kernel().observed().sgDataLength);
        const std::vector<uint8_t> cdb = kernel().observed().cdb;
        EXPECT_EQ(15 << 1, cdb.at(1) & 0x1E) << "PROTOCOL 15 read";
        EXPECT_EQ(0x51, refused.outStatus);
        EXPECT_EQ(0x04, refused.outError);
        EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, refused.resultFlags);
    }
    unloadPlugin(plugin);
}

TEST_F(SatPluginTest, CommandBlocksCarryTheRegistersWhereSatPutsThem) {
    auto& disk = bridged("/dev/sdu", "sat", "USB0001");
    const CvUID plugin = loadPlugin("cvpl-sat");
    auto sent = [&](AtaCommandBlock block, std::vector<uint8_t> data = {}) {
        Outcome outcome = command(disk, block, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
        EXPECT_EQ(1, outcome.result) << outcome.error.message;
    };
    // Prime the mode so that each command is followed by exactly one read.
    AtaCommandBlock identify = identifyBlock();
    identify.count = 7;  // forced to 1 for IDENTIFY in the 12-byte block
    std::vector<uint8_t> data(512);
    ASSERT_EQ(1, command(disk, identify, data.data(), 512).result);
    EXPECT_EQ((std::vector<uint8_t>{0xA1, 4 << 1, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}), cdbBefore(1)) << "count forced to 1";

    // A 48-bit non-data command: the 16-byte block with EXTEND, the (15:8)
    // bytes at 3, 5, 7, 9 and 11; the taskfile read follows it.
    AtaCommandBlock ext{};
    ext.protocol = ATA_PROTOCOL_NON_DATA_EXT;
    ext.inputMask = ATA_REG_SET_48BIT;
    ext.featuresExp = 0xF1;
    ext.features = 0xF0;
    ext.countExp = 0xC1;
    ext.count = 0xC0;
    ext.lbaLowExp = 0x11;
    ext.lbaLow = 0x10;
    ext.lbaMidExp = 0x21;
    ext.lbaMid = 0x20;
    ext.lbaHighExp = 0x31;
    ext.lbaHigh = 0x30;
    ext.device = 0x40;
    ext.command = 0xE5;  // CHECK POWER MODE
    const uint32_t before = requests();
    sent(ext);
    EXPECT_EQ(2u, requests() - before);
    const std::vector<uint8_t> expected = {0x85, 3 << 1 | 1, 0x00, 0xF1, 0xF0, 0xC1, 0xC0, 0x11,
                                           0x10, 0x21, 0x20, 0x31, 0x30, 0x40, 0xE5, 0x00};
    EXPECT_EQ(expected, cdbBefore(1));
    // The read-back of a 16-byte command is a 16-byte PROTOCOL 15 with EXTEND.
    EXPECT_EQ((std::vector<uint8_t>{0x85, 15 << 1 | 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              kernel().observed().cdb);

    // UDMA out in a 12-byte block; only the registers in the mask are written.
    AtaCommandBlock dma{};
    dma.protocol = ATA_PROTOCOL_DMA_OUT;
    dma.inputMask = ATA_REG_COMMAND | ATA_REG_COUNT | ATA_REG_FEATURES;
    dma.features = 0x07;
    dma.count = 1;
    dma.lbaLow = 0x99;  // not in the mask
    dma.command = 0x93;
    sent(dma, std::vector<uint8_t>(512));
    EXPECT_EQ((std::vector<uint8_t>{0xA1, 11 << 1, 0x06, 0x07, 0x01, 0, 0, 0, 0, 0x93, 0, 0}),
              cdbBefore(1));
    unloadPlugin(plugin);
}

TEST_F(SatPluginTest, RefusalsBeforeAnythingIsSent) {
    auto& disk = bridged("/dev/sdu", "sat", "USB0001");
    const CvUID plugin = loadPlugin("cvpl-sat");
    const uint32_t before = requests();
    std::vector<uint8_t> data(1024);
    auto refused = [&](AtaCommandBlock block, uint32_t length, const char* message, uint32_t blockLength = 51) {
        Outcome outcome = run(disk.resource(), serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE),
                              DEVICE_FUNCTION_DO_COMMAND, &block, blockLength, length ? data.data() : nullptr, length);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(CV_ERROR_INVALID_INPUT, outcome.error.code);
        EXPECT_STREQ(message, outcome.error.message);
    };
    AtaCommandBlock pio = identifyBlock();
    refused(pio, 1000, "This device only supports transfers that are a multiple of the sector size (512), found 1000");
    refused(pio, 0, "Data length is not allowed to be 0 on a data transfer");
    refused(pio, 512, "Parameter buffer 0 is not exactly 51 bytes long for 'do scsi command': 50", 50);
    AtaCommandBlock reserved{};
    reserved.protocol = 7;
    refused(reserved, 0, "Unsupported protocol encountered: 7");
    AtaCommandBlock offline{};
    offline.options = ATA_OPTION_OFFLINE;
    refused(offline, 0, "Offline flag not supported");
    EXPECT_EQ(before, requests());
    unloadPlugin(plugin);
}

// What the kernel and the bridge answer is kept apart from what the drive
// answered: a request lost on the way, a command the bridge refused, and a
// transfer beyond what the bridge takes all fail instead of reading back an
// earlier command's registers as this one's.
TEST_F(SatPluginTest, FailuresOnTheWayAreNotTheDrivesAnswer) {
    auto& old = bridged("/dev/sdu", "sat-errors-only", "USB0001");
    auto& small = bridged("/dev/sdv", "sat", "USB0002");
    kernel().setQueueLimit("/dev/sdv", 16384);
    const CvUID plugin = loadPlugin("cvpl-sat");
    std::vector<uint8_t> data(65536);
    AtaCommandBlock identify = identifyBlock();
    ASSERT_EQ(1, command(old, identify, data.data(), 512).result);

    AtaCommandBlock dma{};
    dma.protocol = ATA_PROTOCOL_DMA_OUT;
    dma.inputMask = ATA_REG_SET_28BIT;
    dma.features = 0x07;
    dma.count = 1;
    dma.command = 0x93;
    Outcome outcome = command(old, dma, data.data(), 512);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("ATA PASS-THROUGH refused by the bridge (sense key 0x5, ASC/ASCQ 0x24/0x00)", outcome.error.message);
    EXPECT_EQ(0, dma.resultFlags & ATA_RESULT_REGISTERS_VALID);

    AtaCommandBlock big{};
    big.protocol = ATA_PROTOCOL_PIO_OUT;
    big.inputMask = ATA_REG_SET_28BIT;
    big.features = 0x03;
    big.count = 0x80;
    big.command = 0x92;
    outcome = command(small, big, data.data(), 65536);
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("SCSI system aborted SAT command: 5", outcome.error.message);
    // The bridge's queue limit is what its abilities offer.
    int32_t index = 3;
    AtaAbility ability{};
    ASSERT_EQ(1, run(small.resource(), serviceOf(small.resource(), ATA_DEVICE_SERVICE_TYPE),
                     DEVICE_FUNCTION_GET_ABILITY, &index, 4, &ability, sizeof ability).result);
    EXPECT_EQ(3, ability.identifier);
    EXPECT_EQ(16384u, ability.maxTransferBytes);
    // A request lost on the way (the command timed out) is no answer either.
    kernel().timeOutNext("/dev/sdv", 1, simdrive::SimKernel::TimeoutReport::NewKernel);
    identify = identifyBlock();
    outcome = command(small, identify, data.data(), 512);
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("SCSI system aborted SAT command: 110", outcome.error.message);

    // A disk that went away: the service stays and refuses; back, it works.
    small.depart();
    identify = identifyBlock();
    outcome = command(small, identify, data.data(), 512);
    EXPECT_STREQ("Device is unavailable", outcome.error.message);
    small.arrive("/dev/sdv");
    EXPECT_EQ(1, command(small, identify, data.data(), 512).result);
    unloadPlugin(plugin);
}

// The translating functions: read taskfile (16-byte PROTOCOL 15) and soft reset.
TEST_F(SatPluginTest, ReadTaskfileAndSoftReset) {
    auto& disk = bridged("/dev/sdu", "sat", "USB0001");
    const CvUID plugin = loadPlugin("cvpl-sat");
    const CvUID service = serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE);
    AtaCommandBlock refused = refusedDownload();
    std::vector<uint8_t> segment(512);
    ASSERT_EQ(1, command(disk, refused, segment.data(), 512).result);

    AtaTaskfileBlock taskfile{};
    taskfile.cleared = 0xFFFFFFFF;
    Outcome outcome = run(disk.resource(), service, ATA_DEVICE_FUNCTION_READ_TASKFILE, &taskfile, sizeof taskfile);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0u, taskfile.cleared);
    EXPECT_EQ(0x51, taskfile.status);
    EXPECT_EQ(0x04, taskfile.error);
    EXPECT_EQ(0x85, kernel().observed().cdb.at(0));

    outcome = run(disk.resource(), service, ATA_DEVICE_FUNCTION_RESET, nullptr, 0);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ((std::vector<uint8_t>{0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), kernel().observed().cdb);
    outcome = run(disk.resource(), service, 9, nullptr, 0);
    EXPECT_STREQ("Unsupported function code: 9", outcome.error.message);
    unloadPlugin(plugin);
}

// Two plug-ins that give "ata/device", loaded in either order, leave one
// service per disk: cvpl-ata keeps a libata disk it took, cvpl-sat a USB one.
TEST_F(SatPluginTest, OneAtaServicePerDiskWhateverTheLoadOrder) {
    for (const bool satFirst : {true, false}) {
        SCOPED_TRACE(satFirst ? "cvpl-sat first" : "cvpl-ata first");
        const std::string suffix = satFirst ? "1" : "2";
        auto& usb = bridged("/dev/sdu" + suffix, "sat", "USBX" + suffix);
        addDrive<simdrive::AtaDrive>("/dev/sda" + suffix, "kind=ata; model=VT-2000; serial=SATA" + suffix +
                                                              "; revision=VT01");
        auto& sata = publish("/dev/sda" + suffix);
        const CvUID first = loadPlugin(satFirst ? "cvpl-sat" : "cvpl-ata");
        const CvUID second = loadPlugin(satFirst ? "cvpl-ata" : "cvpl-sat");
        drainEvents();
        for (auto* disk : {&usb, &sata}) {
            uint32_t capabilities = 0xFF;
            ASSERT_EQ(1, run(disk->resource(), serviceOf(disk->resource(), ATA_DEVICE_SERVICE_TYPE),
                             DEVICE_FUNCTION_GET_CAPABILITIES, &capabilities, 4).result);
            if (disk == &usb) {
                EXPECT_EQ(0x0Cu, capabilities) << "cvpl-ata leaves USB disks alone";
            } else if (!satFirst) {
                EXPECT_EQ(0u, capabilities) << "cvpl-ata took it first";
            }
        }
        // A libata disk served by cvpl-sat reads the drive's verdict from the
        // command's own sense: there is no read-back off USB.
        AtaCommandBlock refused = refusedDownload();
        std::vector<uint8_t> segment(512);
        Outcome outcome = command(sata, refused, segment.data(), 512);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        EXPECT_EQ(0x04, refused.outError);
        unloadPlugin(second);
        unloadPlugin(first);
    }
}

// What a bridge returns for a taskfile read, decoded as each version lays it out.
TEST(SatSenseParse, RegistersFromEveryFormatAndRefusalsOfWhatHoldsNone) {
    const std::vector<uint8_t> fixed = {0x70, 0, 0x01, 0x04, 0x51, 0xE0, 0x10, 0x0A, 0x00, 0x33, 0x22, 0x11};
    AtaTaskfileBlock r{};
    CvError error{};
    ASSERT_EQ(1, sat_plugin::parseSense(fixed, sat::fixedLayoutOf(sat::Version::Sat3), r, &error));
    EXPECT_EQ(0x33, r.lbaLow);
    EXPECT_EQ(0x11, r.lbaHigh);
    EXPECT_EQ(0x22, r.lbaMid);
    EXPECT_EQ(0x04, r.error);
    EXPECT_EQ(0x51, r.status);
    EXPECT_EQ(0xE0, r.device);
    EXPECT_EQ(0x10, r.count);
    ASSERT_EQ(1, sat_plugin::parseSense(fixed, sat::fixedLayoutOf(sat::Version::Sat2), r, &error));
    EXPECT_EQ(0x11, r.lbaLow);
    EXPECT_EQ(0x33, r.lbaHigh);

    const std::vector<uint8_t> bare = {0x09, 0x0C, 0, 0x04, 0xC1, 0xC0, 0x11, 0x10, 0x21, 0x20, 0x31, 0x30, 0x40, 0x51};
    ASSERT_EQ(1, sat_plugin::parseSense(bare, sat::FixedLayout::Sat, r, &error));
    EXPECT_EQ(0xC1, r.countExp);
    EXPECT_EQ(0x31, r.lbaHighExp);
    EXPECT_EQ(0x51, r.status);

    auto refusal = [&](std::vector<uint8_t> bytes, int code, const char* message) {
        AtaTaskfileBlock untouched{};
        CvError why{};
        EXPECT_EQ(0, sat_plugin::parseSense(bytes, sat::FixedLayout::Sat, untouched, &why));
        EXPECT_EQ(code, why.code);
        EXPECT_STREQ(message, why.message);
    };
    std::vector<uint8_t> wrongLength = bare;
    wrongLength[1] = 0x0E;
    refusal(wrongLength, 3, "CvSAT_ParseSense: SCSI system returned an unsupported additional sense length (14)");
    refusal({bare.begin(), bare.begin() + 13}, 2, "CvSAT_ParseSense: SCSI system returned a sense length of 13, expected 14");
    refusal({0x72, 1, 0, 0x1D, 0, 0, 0, 14, 0x09, 0x0C}, 2,
            "CvSAT_ParseSense: SCSI system returned a sense length of 10, expected 22");
    refusal({fixed.begin(), fixed.begin() + 11}, 2,
            "CvSAT_ParseSense: SCSI system returned a sense length of 11, expected 12");
    refusal({0x7F, 0, 0}, 3, "CvSAT_ParseSense: SCSI system returned an unsupported sense response code 0x7F");

    // The version a bridge claims in INQUIRY.
    std::vector<uint8_t> inquiry(96, 0);
    EXPECT_EQ(sat::Version::Sat2, sat::versionFromInquiry(inquiry));
    inquiry[62] = 0x1E;
    inquiry[63] = 0xE2;
    EXPECT_EQ(sat::Version::Sat3, sat::versionFromInquiry(inquiry));
    inquiry[62] = 0x1F;
    inquiry[63] = 0x00;
    EXPECT_EQ(sat::Version::Sat4, sat::versionFromInquiry(inquiry));
    EXPECT_EQ(sat::Version::Sat2, sat::versionFromInquiry({inquiry.data(), 63})) << "half a descriptor";
    EXPECT_EQ(sat::Version::Sat3, *sat::parseVersion("sAt3"));
    EXPECT_FALSE(sat::parseVersion("SAT").has_value());
}

}  // namespace
