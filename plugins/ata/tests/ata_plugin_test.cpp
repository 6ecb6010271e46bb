// cvpl-ata against the simulated kernel: the probe, the contract's functions and
// refusals, SAT command building and register copy-back, time-outs, and a disk
// that goes away and comes back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <cstring>
#include <span>
#include <vector>

#include "device/ata_device.h"
#include "passthrough_fixture.h"
#include "sat_codec/identify_data.h"
#include "sat_codec/sat_cdb.h"
#include "sim_test_support.h"

namespace {

using passthrough_test::PassThroughTest;
using simdrive::AtaDrive;
using simdrive::ScsiDrive;

class AtaPluginTest : public PassThroughTest {
protected:
    void SetUp() override {
        PassThroughTest::SetUp();
        drive_ = addDrive<AtaDrive>("/dev/sda", simdrive::test::kAtaVt);
        addDrive<ScsiDrive>("/dev/sdb", simdrive::test::kScsiVt);
        ataDisk_ = &publish("/dev/sda");
        scsiDisk_ = &publish("/dev/sdb");
        plugin_ = loadPlugin("cvpl-ata");
        service_ = serviceOf(ataDisk_->resource(), ATA_DEVICE_SERVICE_TYPE);
        ASSERT_NE(service_, CV_UID_NONE);
    }

    static AtaCommandBlock identifyBlock() {
        AtaCommandBlock block{};
        block.protocol = ATA_PROTOCOL_PIO_IN;
        block.inputMask = ATA_REG_SET_28BIT;
        block.outputMask = ATA_REG_SET_28BIT;
        block.count = 1;
        block.command = 0xEC;
        return block;
    }

    Outcome command(AtaCommandBlock& block, void* data = nullptr, uint32_t length = 0) {
        return run(ataDisk_->resource(), service_, DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block, data, length);
    }

    std::string identifiedRevision() {
        AtaCommandBlock block = identifyBlock();
        std::vector<uint8_t> data(512);
        EXPECT_EQ(1, command(block, data.data(), 512).result);
        std::string text;
        for (int word = 23; word < 27; ++word) {
            text += static_cast<char>(data[word * 2 + 1]);
            text += static_cast<char>(data[word * 2]);
        }
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    AtaDrive* drive_ = nullptr;
    passthrough_test::FakeDisk* ataDisk_ = nullptr;
    passthrough_test::FakeDisk* scsiDisk_ = nullptr;
    CvUID plugin_ = CV_UID_NONE;
    CvUID service_ = CV_UID_NONE;
};

TEST_F(AtaPluginTest, OnlyDisksThatAnswerIdentifyGetTheService) {
    EXPECT_EQ(CV_UID_NONE, serviceOf(scsiDisk_->resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(1u, ataDisk_->listenerCount());
    EXPECT_EQ(0u, scsiDisk_->listenerCount());

    // Disks published later arrive through hot-plug events.
    addDrive<AtaDrive>("/dev/sdc", "kind=ata; model=VT-2100; serial=LATE01; revision=VT01");
    auto& late = publish("/dev/sdc");
    auto& missing = publish("/dev/sdz");
    drainEvents();
    EXPECT_NE(CV_UID_NONE, serviceOf(late.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(CV_UID_NONE, serviceOf(missing.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_TRUE(has(CV_LOG_WARNING, "Unable to open physical disk path '/dev/sdz'"));
    EXPECT_FALSE(anyAtLevel(CV_LOG_ERROR));

    // The probe was IDENTIFY DEVICE in a PIO data-in ATA PASS-THROUGH (16),
    // without CK_COND: it needs the data, not the registers.
    auto cdb = kernel().observed().cdb;
    ASSERT_EQ(16u, cdb.size());
    EXPECT_EQ(0x85, cdb[0]);
    EXPECT_EQ(4 << 1, cdb[1]);
    EXPECT_EQ(0, cdb[2] & 0x20);
    EXPECT_EQ(0xEC, cdb[14]);
    EXPECT_EQ(60000u, kernel().observed().sgTimeoutMs);

    // A USB disk is left to the USB bridge plug-ins, although its drive would answer.
    addDrive<AtaDrive>("/dev/sdu", "kind=ata; model=VT-2100; serial=USB001; revision=VT01");
    const uint32_t requests = kernel().observed().sgRequests;
    auto& usb = publish("/dev/sdu", DRIVE_INFO_BUS_USB);
    drainEvents();
    EXPECT_EQ(CV_UID_NONE, serviceOf(usb.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(0u, usb.listenerCount());
    EXPECT_EQ(requests, kernel().observed().sgRequests) << "nothing was sent to it";
}

// A translation that reports GOOD without passing IDENTIFY DEVICE on leaves
// the buffer untouched: that is no ATA disk.
TEST_F(AtaPluginTest, IdentifyAnswerWithoutDataIsNoAtaDisk) {
    addDrive<AtaDrive>("/dev/sdg", "kind=ata; model=VT-2100; serial=HOLLOW; revision=VT01");
    simdrive::LibataPort hollow;
    hollow.answersWithoutRunning = true;
    kernel().setLibataPort("/dev/sdg", hollow);
    auto& disk = publish("/dev/sdg");
    drainEvents();
    EXPECT_EQ(CV_UID_NONE, serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(0x85, kernel().observed().cdb.at(0)) << "the probe was sent";
}

TEST_F(AtaPluginTest, IdentifyReturnsDataAndRegisters) {
    AtaCommandBlock block = identifyBlock();
    block.resultFlags = 0xF0;
    block.conditionFlags = 0xFF;
    std::vector<uint8_t> data(512);
    Outcome outcome = command(block, data.data(), 512);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, block.resultFlags);
    EXPECT_EQ(0, block.conditionFlags);
    EXPECT_EQ(0x50, block.outStatus);
    EXPECT_EQ(0, block.outError);
    EXPECT_EQ("VT01", identifiedRevision());
    // Words 27-46: the model, byte-swapped.
    EXPECT_EQ('V', data[27 * 2 + 1]);
    EXPECT_EQ('T', data[27 * 2]);
}

TEST_F(AtaPluginTest, DmaProtocolsTravelAsSatDma) {
    AtaDrive* dma = addDrive<AtaDrive>("/dev/sdd", "kind=ata; model=VT-2000 DMA; serial=DMA001; revision=VT01; dma=yes");
    auto& disk = publish("/dev/sdd");
    drainEvents();
    CvUID service = serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE);
    ASSERT_NE(CV_UID_NONE, service);
    std::vector<uint8_t> image = simdrive::test::makeImage("VT-2000", "VT03", 3000);
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_DMA_OUT;
    block.inputMask = ATA_REG_SET_28BIT;
    block.features = 0x07;  // the whole image at once
    block.count = static_cast<uint8_t>(image.size() / 512);
    block.command = 0x93;
    Outcome outcome = run(disk.resource(), service, DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block, image.data(),
                          static_cast<uint32_t>(image.size()));
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(6 << 1, kernel().observed().cdb[1]);
    EXPECT_EQ(0x50, block.outStatus);
    EXPECT_EQ("VT03", dma->firmware().revision);
}

TEST_F(AtaPluginTest, ResourceWithAnotherAtaServiceIsLeftAlone) {
    // Set up while the plug-in is away, so that it meets the service at load.
    unloadPlugin(plugin_);
    addDrive<AtaDrive>("/dev/sde", "kind=ata; model=VT-2000; serial=OTHER1; revision=VT01");
    auto& disk = publish("/dev/sde");
    CvServiceDescriptor other{};
    std::strncpy(other.info.type, ATA_DEVICE_SERVICE_TYPE, sizeof other.info.type - 1);
    other.execute = [](void*, CvCommand*, CvError* error) { return CvSetNoError(error); };
    CvUID otherService = CV_UID_NONE;
    CvError error{};
    ASSERT_EQ(1, CvResource_RegisterService(disk.resource(), &other, &otherService, &error)) << error.message;
    drainEvents();
    plugin_ = loadPlugin("cvpl-ata");
    drainEvents();
    EXPECT_NE(CV_UID_NONE, serviceOf(ataDisk_->resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(otherService, serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(0u, disk.listenerCount());
}

TEST_F(AtaPluginTest, DeviceRefusalIsInTheRegistersNotTheResult) {
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_NON_DATA;
    block.inputMask = ATA_REG_COMMAND;
    block.command = 0xFF;  // no such command
    Outcome outcome = command(block);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0x51, block.outStatus);
    EXPECT_EQ(0x04, block.outError);
    EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, block.resultFlags);
}

// libata reports an ATA error as CHECK CONDITION with a mapped sense key:
// fixed format (the registers where older or newer kernels put them) unless
// the disk has D_SENSE. Each is the drive's answer, with its registers.
TEST_F(AtaPluginTest, AbortedDownloadIsADeviceAnswerInEverySenseFormat) {
    using Layout = simdrive::LibataPort::FixedRegisters;
    simdrive::LibataPort shifted, satLayout, descriptor;
    satLayout.fixedRegisters = Layout::Sat;
    descriptor.descriptorSense = true;
    std::vector<uint8_t> segment(512);
    for (const simdrive::LibataPort& port : {shifted, satLayout, descriptor}) {
        kernel().setLibataPort("/dev/sda", port);
        AtaCommandBlock block{};
        block.protocol = ATA_PROTOCOL_PIO_OUT;
        block.inputMask = ATA_REG_SET_28BIT;
        block.features = 0x55;  // no such subcommand
        block.count = 1;
        block.command = 0x92;
        Outcome outcome = command(block, segment.data(), 512);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        EXPECT_EQ(0x51, block.outStatus);
        EXPECT_EQ(0x04, block.outError);
        EXPECT_EQ(ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID, block.resultFlags);
    }
}

// The simulated kernel gives the bytes Debian 12's kernel gave on QEMU's
// disks: an aborted DOWNLOAD MICROCODE in either block size, and IDENTIFY
// with CK_COND on AHCI (ABORTED COMMAND, DRQ in the status, data delivered).
TEST_F(AtaPluginTest, SimulatedKernelAnswersAsLibataDoes) {
    const int fd = kernel().open("/dev/sda", O_RDWR);
    ASSERT_GE(fd, 0);
    auto send = [&](const uint8_t* cdb, uint8_t length, int direction, std::vector<uint8_t>& data,
                    std::vector<uint8_t>& sense) {
        sense.assign(32, 0);
        sg_io_hdr header{};
        header.interface_id = 'S';
        header.cmdp = const_cast<uint8_t*>(cdb);
        header.cmd_len = length;
        header.dxfer_direction = direction;
        header.dxferp = data.data();
        header.dxfer_len = static_cast<unsigned>(data.size());
        header.sbp = sense.data();
        header.mx_sb_len = 32;
        EXPECT_EQ(0, kernel().sgIo(fd, &header));
        EXPECT_EQ(0x02, header.status);
        EXPECT_EQ(0x08, header.driver_status);
        sense.resize(header.sb_len_wr);
    };
    sat::Command download;
    download.protocol = sat::Protocol::PioOut;
    download.transfer = sat::Transfer::ToDevice;
    download.taskfile.features = 0x55;
    download.taskfile.count = 1;
    download.taskfile.command = 0x92;
    std::vector<uint8_t> data(512), sense;
    const auto cdb12 = sat::buildCdb12(download);
    const auto cdb16 = sat::buildCdb16(download);
    for (auto [cdb, length] : {std::pair{cdb12.data(), uint8_t{12}}, std::pair{cdb16.data(), uint8_t{16}}}) {
        send(cdb, length, SG_DXFER_TO_DEV, data, sense);
        ASSERT_EQ(18u, sense.size());
        EXPECT_EQ((std::vector<uint8_t>{0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0x04, 0x51}),
                  std::vector<uint8_t>(sense.begin(), sense.begin() + 10));
        EXPECT_EQ(0, sense[12]);
        EXPECT_EQ(0, sense[13]);
    }

    sat::Command identify;
    identify.protocol = sat::Protocol::PioIn;
    identify.transfer = sat::Transfer::FromDevice;
    identify.checkCondition = true;
    identify.taskfile.count = 1;
    identify.taskfile.command = 0xEC;
    const auto probe = sat::buildCdb16(identify);
    send(probe.data(), 16, SG_DXFER_FROM_DEV, data, sense);
    ASSERT_EQ(18u, sense.size());
    EXPECT_EQ(0x0B, sense[2]);
    EXPECT_EQ(0x00, sense[8]);
    EXPECT_EQ(0x58, sense[9]);
    EXPECT_TRUE(sat::isIdentifyDeviceData(std::span<const uint8_t, 512>(data.data(), 512)));
    kernel().close(fd);
}

TEST_F(AtaPluginTest, FirmwareDownloadInSegmentsActivatesTheImage) {
    std::vector<uint8_t> image = simdrive::test::makeImage("VT-2000", "VT02", 20000);
    const uint32_t total = static_cast<uint32_t>(image.size() / 512);
    const uint32_t segment = 16;
    AtaCommandBlock block{};
    for (uint32_t offset = 0; offset < total; offset += segment) {
        uint32_t blocks = std::min(segment, total - offset);
        block = AtaCommandBlock{};
        block.protocol = ATA_PROTOCOL_PIO_OUT;
        block.inputMask = ATA_REG_SET_28BIT;
        block.features = 0x03;
        block.count = static_cast<uint8_t>(blocks);
        block.lbaLow = static_cast<uint8_t>(blocks >> 8);
        block.lbaMid = static_cast<uint8_t>(offset);
        block.lbaHigh = static_cast<uint8_t>(offset >> 8);
        block.command = 0x92;
        Outcome outcome = command(block, image.data() + offset * 512, blocks * 512);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        ASSERT_EQ(0x50, block.outStatus) << "segment at block " << offset;
    }
    EXPECT_EQ(simdrive::ata::kDmApplied, block.outCount);
    EXPECT_EQ("VT02", identifiedRevision());
    EXPECT_EQ("VT02", drive_->firmware().revision);
}

TEST_F(AtaPluginTest, CapabilitiesSettingsAndAbilities) {
    uint32_t capabilities = 0xFFFFFFFF;
    EXPECT_EQ(1, run(ataDisk_->resource(), service_, 0, &capabilities, 4).result);
    EXPECT_EQ(0u, capabilities);
    DeviceSettingsSupport support{};
    EXPECT_EQ(1, run(ataDisk_->resource(), service_, 1, &support, 4).result);
    EXPECT_EQ(0x0021, support.readable);
    EXPECT_EQ(0x0001, support.writable);
    DeviceSetting setting{0, DEVICE_SETTING_ATA_CONSTANT};
    EXPECT_EQ(1, run(ataDisk_->resource(), service_, 2, &setting, 9).result);
    EXPECT_EQ(1u, setting.value);
    setting = {0, DEVICE_SETTING_TIMEOUT};
    EXPECT_EQ(1, run(ataDisk_->resource(), service_, 2, &setting, 9).result);
    EXPECT_EQ(60000000000ull, setting.value);
    int32_t count = 0;
    EXPECT_EQ(1, run(ataDisk_->resource(), service_, 4, &count, 4).result);
    EXPECT_EQ(6, count);
    for (int32_t index : {0, 2, 4}) {
        AtaAbility ability{};
        ASSERT_EQ(1, run(ataDisk_->resource(), service_, 5, &index, 4, &ability, sizeof ability).result);
        EXPECT_EQ(index, ability.identifier);
        EXPECT_EQ(index == 0 ? 0u : 0x20000u, ability.maxTransferBytes);
        EXPECT_EQ(index == 4 ? 0xFFFFFFFFFFFFull : 0xFFFFFFFull, ability.maxLba);
        EXPECT_EQ(index == 4 ? 0xFFF : 0xAAB, ability.writableRegisters);
        EXPECT_EQ(1u, ability.minLbaCount);
    }
}

TEST_F(AtaPluginTest, TimeoutSettingReachesTheSgIoHeaderInWholeSeconds) {
    DeviceSetting setting{5500000000ull, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, run(ataDisk_->resource(), service_, 3, &setting, 9).result);
    AtaCommandBlock block = identifyBlock();
    block.timeOrTimeout = 1;  // the client's wish is not what the server applies
    std::vector<uint8_t> data(512);
    ASSERT_EQ(1, command(block, data.data(), 512).result);
    EXPECT_EQ(5000u, kernel().observed().sgTimeoutMs);
    setting = {0, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, run(ataDisk_->resource(), service_, 2, &setting, 9).result);
    EXPECT_EQ(5500000000ull, setting.value);
}

TEST_F(AtaPluginTest, ExpandedRegistersOnlyForA48BitProtocol) {
    std::vector<uint8_t> data(512);
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_PIO_OUT;
    block.inputMask = ATA_REG_SET_28BIT | ATA_REG_COUNT_EXP;
    block.count = 1;
    block.countExp = 0x12;
    block.command = 0x92;
    block.features = 0x03;
    ASSERT_EQ(1, command(block, data.data(), 512).result);
    auto cdb = kernel().observed().cdb;
    EXPECT_EQ(0, cdb[1] & 0x01) << "protocol 3 stays 28-bit";
    EXPECT_EQ(0, cdb[5]);
    EXPECT_EQ(5 << 1, cdb[1] & 0x1E);

    block = AtaCommandBlock{};
    block.protocol = ATA_PROTOCOL_NON_DATA_EXT;
    block.inputMask = ATA_REG_SET_48BIT;
    block.countExp = 0x12;
    block.lbaHighExp = 0x34;
    block.command = 0xEA;  // FLUSH CACHE EXT
    ASSERT_EQ(1, command(block).result);
    cdb = kernel().observed().cdb;
    EXPECT_EQ(1, cdb[1] & 0x01);
    EXPECT_EQ(0x12, cdb[5]);
    EXPECT_EQ(0x34, cdb[11]);
    EXPECT_EQ(0x50, block.outStatus);

    // A 48-bit protocol whose mask names no expanded register stays 28-bit.
    block.inputMask = ATA_REG_SET_28BIT;
    ASSERT_EQ(1, command(block).result);
    EXPECT_EQ(0, kernel().observed().cdb[1] & 0x01);
}

TEST_F(AtaPluginTest, RefusalsCarryTheirMessages) {
    struct Case {
        uint8_t function;
        uint32_t length;
        const char* message;
    };
    uint8_t buffer[64] = {};
    for (const Case& c : {Case{6, 50, "Parameter buffer 0 is not exactly 51 bytes long for 'do ata command': 50"},
                          Case{6, 52, "Parameter buffer 0 is not exactly 51 bytes long for 'do ata command': 52"},
                          Case{0, 3, "Parameter buffer 0 is not exactly 4 bytes long for 'get capabilities': 3"},
                          Case{9, 4, "Unsupported function code: 9"}}) {
        uint32_t requests = kernel().observed().sgRequests;
        Outcome outcome = run(ataDisk_->resource(), service_, c.function, buffer, c.length);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(CV_ERROR_INVALID_INPUT, outcome.error.code);
        EXPECT_STREQ(c.message, outcome.error.message);
        EXPECT_EQ(requests, kernel().observed().sgRequests) << "nothing reaches the device";
    }

    auto expectRefused = [&](AtaCommandBlock block, void* data, uint32_t length, int code, const char* message) {
        Outcome outcome = command(block, data, length);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(code, outcome.error.code) << message;
        EXPECT_STREQ(message, outcome.error.message);
    };
    AtaCommandBlock block = identifyBlock();
    for (uint8_t protocol : {6, 9, 14, 50}) {
        block.protocol = protocol;
        std::string text = "Protocol not supported: " + std::to_string(protocol);
        expectRefused(block, buffer, 8, CV_ERROR_INVALID_INPUT, text.c_str());
    }
    block = identifyBlock();
    block.options = ATA_OPTION_OFFLINE;
    expectRefused(block, buffer, 8, CV_ERROR_INVALID_INPUT, "Offline flag not supported");
    expectRefused(identifyBlock(), nullptr, 0, CV_ERROR_INVALID_INPUT, "data buffer is null");
    expectRefused(identifyBlock(), buffer, 0, CV_ERROR_INVALID_INPUT, "data buffer length is invalid (value is 0)");

    DeviceSetting setting{0, 3};
    Outcome outcome = run(ataDisk_->resource(), service_, 2, &setting, 9);
    EXPECT_STREQ("Unsupported ATA setting to get: 3", outcome.error.message);
    setting.identifier = 5;
    outcome = run(ataDisk_->resource(), service_, 3, &setting, 9);
    EXPECT_STREQ("Unsupported ATA setting to set: 5", outcome.error.message);
    int32_t index = 6;
    AtaAbility ability{};
    outcome = run(ataDisk_->resource(), service_, 5, &index, 4, &ability, sizeof ability);
    EXPECT_STREQ("Ability index out of bounds: 6 (max is 6)", outcome.error.message);

    CvCommand submitted{};
    CvCommandCompletion completion{};
    CvError error{};
    EXPECT_EQ(0, CvResourceService_SubmitCommand(ataDisk_->resource(), service_, 0, &submitted, &completion, &error));
    EXPECT_STREQ("Submitting commands not supported yet", error.message);
}

TEST_F(AtaPluginTest, UnavailableWhileAwayAndWorkingAfterReturn) {
    ataDisk_->depart();
    AtaCommandBlock block = identifyBlock();
    std::vector<uint8_t> data(512);
    Outcome outcome = command(block, data.data(), 512);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("Device is unavailable", outcome.error.message);
    EXPECT_EQ(service_, serviceOf(ataDisk_->resource(), ATA_DEVICE_SERVICE_TYPE)) << "the service stays";

    // It comes back under another name.
    ataDisk_->arrive("/dev/sdq");
    EXPECT_TRUE(has(CV_LOG_ERROR, "Unable to re-open ATA unit path '/dev/sdq'"));
    EXPECT_EQ(0, command(block, data.data(), 512).result);

    ataDisk_->arrive("/dev/sda");
    outcome = command(block, data.data(), 512);
    EXPECT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(0x50, block.outStatus);
}

TEST_F(AtaPluginTest, DrivePulledDuringCommandFailsTheCall) {
    drive_->setGone(true);
    AtaCommandBlock block = identifyBlock();
    std::vector<uint8_t> data(512);
    Outcome outcome = command(block, data.data(), 512);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("ATA_PASS_THROUGH ioctl failed: 6", outcome.error.message);  // ENXIO
    EXPECT_EQ(ATA_RESULT_DURATION_VALID, block.resultFlags);
}

TEST_F(AtaPluginTest, UnloadTakesTheServicesDown) {
    unloadPlugin(plugin_);
    EXPECT_EQ(CV_UID_NONE, serviceOf(ataDisk_->resource(), ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(0u, ataDisk_->listenerCount());
    EXPECT_EQ(0, kernel().openDescriptors());
}

TEST_F(AtaPluginTest, ResourceRemovalDisposesOfTheUnit) {
    ataDisk_->unregister();
    EXPECT_EQ(0u, ataDisk_->listenerCount());
    EXPECT_EQ(0, kernel().openDescriptors());
}

}  // namespace
