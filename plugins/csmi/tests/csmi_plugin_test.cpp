// cvpl-csmi over simulated CSMI adapters: what it lists, and how "ata/device"
// and "scsi/device" commands reach SATA and SAS drives through STP and SSP
// pass-through and come back.
#include <gtest/gtest.h>

#include <cstring>

#include "csmi/csmi_wire.h"
#include "device_contracts.h"
#include "passthrough_fixture.h"
#include "sim_csmi_adapter.h"
#include "simdrive/ata_drive.h"

namespace {

using passthrough_test::PassThroughTest;
using simdrive::CsmiPhy;

constexpr const char* kSata = "kind=ata; model=VT-2000 Series; serial=CSA0001; revision=VT01; oui=0x02A001";
constexpr const char* kSas =
    "kind=scsi; vendor=VT; product=SAS-900; serial=CSS0001; revision=VT01; wwn=0x502A002000000001";
constexpr uint64_t kSataAddress = 0x5000C50000000100ull;

std::shared_ptr<simdrive::SimDrive> makeDrive(const char* text) {
    simdrive::DriveDescription description;
    simdrive::DescriptionError problem;
    EXPECT_TRUE(simdrive::parseDriveDescriptionText(text, description, problem)) << problem.message();
    std::string error;
    std::shared_ptr<simdrive::SimDrive> drive = simdrive::createDrive(description, nullptr, error);
    EXPECT_TRUE(drive) << error;
    return drive;
}

CsmiPhy phy(uint8_t number, uint8_t port, uint8_t type, std::shared_ptr<simdrive::SimDrive> drive, uint64_t address) {
    CsmiPhy entry;
    entry.phyIdentifier = number;
    entry.portIdentifier = port;
    entry.attachedType = type;
    entry.drive = std::move(drive);
    entry.sasAddress = address;
    return entry;
}

class CsmiPluginTest : public PassThroughTest {
protected:
    // Adapter 0: a SATA drive on phy 0, a SAS drive on phy 1 whose port the
    // driver does not know, an expander on phy 2 and nothing on phy 3.
    // Adapter 2: the SAS drive again, on phy 5 of port 1.
    void addAdapters() {
        sata_ = makeDrive(kSata);
        sas_ = makeDrive(kSas);
        adapter0_ = std::make_shared<simdrive::SimCsmiAdapter>(
            "simcsmi", std::vector<CsmiPhy>{phy(0, 0, CSMI_DEVICE_END_DEVICE, sata_, kSataAddress),
                                            phy(1, 0xFF, CSMI_DEVICE_END_DEVICE, sas_, 0x502A002000000001ull),
                                            phy(2, 2, 0x20, nullptr, 0x5000C50000E00002ull), phy(3, 3, 0, nullptr, 0)});
        kernel().addCsmiNode("/dev/csmi0", adapter0_);
        kernel().addCsmiNode("/dev/csmi2", std::make_shared<simdrive::SimCsmiAdapter>(
                                               "simcsmi", std::vector<CsmiPhy>{phy(5, 1, CSMI_DEVICE_END_DEVICE, sas_,
                                                                                   0x502A002000000001ull)}));
    }

    void SetUp() override {
        PassThroughTest::SetUp();
        addAdapters();
        plugin_ = loadPlugin("cvpl-csmi");
        drainEvents();
        sataResource_ = lookup("csmi:scsi0:port0:phy0");
        sasResource_ = lookup("csmi:scsi0:port1:phy0");
        ata_ = serviceOf(sataResource_, "ata/device");
        scsi_ = serviceOf(sasResource_, "scsi/device");
    }

    static CvUID lookup(const char* name) {
        CvUID resource = CV_UID_NONE;
        CvError error{};
        EXPECT_EQ(1, CvResourceManager_LookupResource(name, &resource, &error)) << error.message;
        return resource;
    }

    Outcome ata(AtaCommandBlock& block, void* data = nullptr, uint32_t length = 0, uint8_t function = 6) {
        return run(sataResource_, ata_, function, &block, sizeof block, data, length);
    }
    Outcome scsi(ScsiCommandBlock& block, void* data = nullptr, uint32_t length = 0) {
        return run(sasResource_, scsi_, 6, &block, sizeof block, data, length);
    }

    std::shared_ptr<simdrive::SimDrive> sata_, sas_;
    std::shared_ptr<simdrive::SimCsmiAdapter> adapter0_;
    CvUID plugin_ = CV_UID_NONE;
    CvUID sataResource_ = CV_UID_NONE, sasResource_ = CV_UID_NONE, ata_ = CV_UID_NONE, scsi_ = CV_UID_NONE;
};

TEST_F(CsmiPluginTest, ListsAdaptersAndEndDevicesWithTheirServices) {
    CvUIDList list{};
    CvError error{};
    ASSERT_EQ(1, CvResourceManager_GetResourceList(&list, &error));
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.count; ++i) {
        CvResourceInfo info{};
        ASSERT_EQ(1, CvResource_GetInfo(list.uids[i], &info, &error));
        names.emplace_back(info.name);
    }
    // The expander and the empty phy get nothing; port 255 became the phy's own number.
    EXPECT_EQ(names, (std::vector<std::string>{"csmi:scsi0", "csmi:scsi0:port0:phy0", "csmi:scsi0:port1:phy0",
                                               "csmi:scsi2", "csmi:scsi2:port1:phy0"}));
    CvResourceInfo info{};
    ASSERT_EQ(1, CvResource_GetInfo(sataResource_, &info, &error));
    EXPECT_STREQ(info.description, "Common Storage Management Interface pass through plugin");
    CvResourceTypeInfo type{};
    ASSERT_EQ(1, CvResource_GetTypeInfo(lookup("csmi:scsi0"), &type, &error));
    EXPECT_STREQ(type.typeName, "csmi/adapter");

    // Each resource gets its services once: the adapter one, a device two.
    CvUIDList services{};
    ASSERT_EQ(1, CvResource_GetServiceList(lookup("csmi:scsi0"), &services, &error));
    EXPECT_EQ(services.count, 1);
    ASSERT_EQ(1, CvResource_GetServiceList(sataResource_, &services, &error));
    EXPECT_EQ(services.count, 2);
    EXPECT_NE(serviceOf(lookup("csmi:scsi0"), "csmi/adapter"), CV_UID_NONE);
    EXPECT_NE(serviceOf(sataResource_, "csmi/device"), CV_UID_NONE);
    EXPECT_NE(ata_, CV_UID_NONE);
    EXPECT_EQ(serviceOf(sataResource_, "scsi/device"), CV_UID_NONE);
    EXPECT_NE(scsi_, CV_UID_NONE);
    EXPECT_EQ(serviceOf(sasResource_, "ata/device"), CV_UID_NONE);
    EXPECT_TRUE(has(CV_LOG_DEBUG, "csmi 0 has 4 phys connected to it"));
    EXPECT_TRUE(has(CV_LOG_DEBUG, "Setting up port 1 / phy 0"));

    uint32_t word = 0;
    Outcome refused = run(lookup("csmi:scsi0"), serviceOf(lookup("csmi:scsi0"), "csmi/adapter"), 3, &word, 4);
    EXPECT_EQ(refused.result, 0);
    EXPECT_STREQ(refused.error.message, "Unsupported function code: 3");
}

TEST_F(CsmiPluginTest, AtaCommandsTravelAsRegisterFises) {
    AtaCommandBlock identify{};
    identify.protocol = ATA_PROTOCOL_PIO_IN;
    identify.inputMask = ATA_REG_COMMAND | ATA_REG_COUNT | ATA_REG_COUNT_EXP | ATA_REG_ICC;
    identify.command = 0xEC;
    identify.count = 1;
    identify.countExp = 0x77;  // not written: the protocol is a 28-bit one
    identify.icc = 0x5A;
    uint8_t data[512] = {};
    Outcome outcome = ata(identify, data, sizeof data);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(identify.resultFlags, ATA_RESULT_DURATION_VALID | ATA_RESULT_REGISTERS_VALID);
    EXPECT_EQ(identify.outStatus, 0x50);
    char model[9] = {};
    for (int i = 0; i < 8; i += 2) {  // IDENTIFY words are byte-swapped
        model[i] = static_cast<char>(data[54 + i + 1]);
        model[i + 1] = static_cast<char>(data[54 + i]);
    }
    EXPECT_STREQ(model, "VT-2000 ");

    const std::vector<uint8_t> sent = adapter0_->lastPassThrough();
    ASSERT_EQ(sent.size(), CSMI_STP_BUFFER_SIZE(512));
    const uint8_t* fis = sent.data() + offsetof(CsmiStpBuffer, commandFis);
    EXPECT_EQ(fis[0], 0x27);
    EXPECT_EQ(fis[1], 0x80);
    EXPECT_EQ(fis[2], 0xEC);
    EXPECT_EQ(fis[12], 1);
    EXPECT_EQ(fis[13], 0);
    EXPECT_EQ(fis[14], 0x5A);
    uint32_t flags = 0;
    std::memcpy(&flags, sent.data() + offsetof(CsmiStpBuffer, flags), 4);
    EXPECT_EQ(flags, CSMI_STP_PIO_READ);
    EXPECT_EQ(sent[offsetof(CsmiStpBuffer, portIdentifier)], 0);

    // Vendor command 80h: the driver fails the request, the registers still come back.
    AtaCommandBlock vendor{};
    vendor.protocol = ATA_PROTOCOL_NON_DATA;
    vendor.inputMask = ATA_REG_COMMAND;
    vendor.command = 0x80;
    outcome = ata(vendor);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(vendor.outStatus, 0x51);
    EXPECT_EQ(vendor.outError, 0x04);
    EXPECT_TRUE(vendor.resultFlags & ATA_RESULT_REGISTERS_VALID);

    AtaCommandBlock reset{};
    outcome = ata(reset, nullptr, 0, ATA_DEVICE_FUNCTION_RESET);
    EXPECT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(reset.resultFlags, ATA_RESULT_DURATION_VALID);
    std::memcpy(&flags, adapter0_->lastPassThrough().data() + offsetof(CsmiStpBuffer, flags), 4);
    EXPECT_EQ(flags, CSMI_STP_RESET_DEVICE);
}

TEST_F(CsmiPluginTest, AtaCommandsTheTransferCannotCarryAreRefused) {
    struct Case {
        uint8_t protocol;
        uint8_t options;
        uint32_t length;
        const char* message;
    };
    const Case cases[] = {
        {ATA_PROTOCOL_PIO_IN, ATA_OPTION_OFFLINE, 512, "Offline flag not supported"},
        {ATA_PROTOCOL_PIO_IN, 0, 100, "Transfer size is not a multiple of 512 bytes, found 100"},
        {7, 0, 512, "Unsupported protocol encountered: 7"},
    };
    uint8_t data[512] = {};
    for (const Case& c : cases) {
        AtaCommandBlock block{};
        block.protocol = c.protocol;
        block.options = c.options;
        Outcome outcome = ata(block, data, c.length);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.error.code, CV_ERROR_INVALID_INPUT);
        EXPECT_STREQ(outcome.error.message, c.message);
    }
    uint8_t shortBlock[50] = {};
    Outcome outcome = run(sataResource_, ata_, 8, shortBlock, sizeof shortBlock);
    EXPECT_STREQ(outcome.error.message, "Parameter buffer 0 is not exactly 51 bytes long for 'do command': 50");
    EXPECT_TRUE(adapter0_->lastPassThrough().empty());
}

TEST_F(CsmiPluginTest, ScsiCommandsTravelAsSspWithStatusAndSense) {
    ScsiCommandBlock inquiry{};
    inquiry.direction = SCSI_DIRECTION_IN;
    inquiry.cdbLength = 6;
    inquiry.cdb[0] = 0x12;
    inquiry.cdb[4] = 96;
    uint8_t data[96] = {};
    Outcome outcome = scsi(inquiry, data, sizeof data);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(inquiry.status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 2), "VT");

    // An operation code the drive does not know: CHECK CONDITION with its sense.
    ScsiCommandBlock unknown{};
    unknown.cdbLength = 6;
    unknown.cdb[0] = 0xC7;
    outcome = scsi(unknown);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(unknown.status, 2);
    ASSERT_GE(unknown.senseLength, 14);
    EXPECT_EQ(unknown.sense[2] & 0x0F, 0x05);
    EXPECT_EQ(unknown.sense[12], 0x20);

    // 32 bytes: 16 in the CDB field, 16 (four words) in the additional one.
    ScsiCommandBlock longCdb{};
    longCdb.cdbLength = 32;
    for (int i = 0; i < 32; ++i) longCdb.cdb[i] = static_cast<uint8_t>(i == 0 ? 0x7F : i);
    scsi(longCdb);
    const std::vector<uint8_t> sent = adapter0_->lastPassThrough();
    ASSERT_EQ(sent.size(), CSMI_SSP_BUFFER_SIZE(0));
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, cdbLength)], 16);
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, additionalCdbLength)], 4);
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, cdb) + 15], 15);
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, additionalCdb)], 16);
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, additionalCdb) + 15], 31);
    EXPECT_EQ(sent[offsetof(CsmiSspBuffer, portIdentifier)], 1);

    ScsiCommandBlock tooLong{};
    tooLong.cdbLength = 44;
    outcome = scsi(tooLong);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_STREQ(outcome.error.message, "CDB too large: 44");
    EXPECT_EQ(tooLong.status, 0xFF);
    ScsiCommandBlock both{};
    both.direction = SCSI_DIRECTION_BIDIRECTIONAL;
    both.cdbLength = 6;
    outcome = scsi(both);
    EXPECT_STREQ(outcome.error.message, "Unsupported protocol encountered: 3");

    uint64_t address = 0;
    outcome = run(sasResource_, scsi_, SCSI_DEVICE_FUNCTION_GET_SAS_ADDRESS, &address, sizeof address);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(address, 0x502A002000000001ull);
    uint16_t support = 0;
    outcome = run(sasResource_, scsi_, SCSI_DEVICE_FUNCTION_GET_TASK_MANAGEMENT_SUPPORT, &support, sizeof support);
    EXPECT_STREQ(outcome.error.message, "Unsupported function code: 8");
}

TEST_F(CsmiPluginTest, AbilitiesAndTheTimeOutSetting) {
    int32_t count = 0;
    run(sataResource_, ata_, 4, &count, 4);
    EXPECT_EQ(count, 10);
    int32_t index = 9;
    AtaAbility ataAbility{};
    ASSERT_EQ(run(sataResource_, ata_, 5, &index, 4, &ataAbility, sizeof ataAbility).result, 1);
    EXPECT_EQ(ataAbility.identifier, 13);
    EXPECT_EQ(ataAbility.maxTransferBytes, 33554432u);
    EXPECT_EQ(ataAbility.minLbaCount, 1u);
    run(sasResource_, scsi_, 4, &count, 4);
    EXPECT_EQ(count, 33);
    index = 1;
    ScsiAbility scsiAbility{};
    ASSERT_EQ(run(sasResource_, scsi_, 5, &index, 4, &scsiAbility, sizeof scsiAbility).result, 1);
    EXPECT_EQ(scsiAbility.maxTransferBytes, 524288u);

    uint32_t capabilities = 0;
    run(sataResource_, ata_, 0, &capabilities, 4);
    EXPECT_EQ(capabilities, 8u);
    DeviceSetting setting{};
    ASSERT_EQ(run(sataResource_, ata_, 2, &setting, sizeof setting).result, 1);
    EXPECT_EQ(setting.value, 60000000000ull);
    setting.value = 7500000000ull;  // whole seconds are kept
    ASSERT_EQ(run(sasResource_, scsi_, 3, &setting, sizeof setting).result, 1);
    ASSERT_EQ(run(sasResource_, scsi_, 2, &setting, sizeof setting).result, 1);
    EXPECT_EQ(setting.value, 7000000000ull);
    setting.identifier = 5;
    EXPECT_STREQ(run(sataResource_, ata_, 2, &setting, sizeof setting).error.message,
                 "Unsupported ATA setting to get: 5");
}

// No port answers as a CSMI driver: a disk's node is opened, asked nothing it
// does not know, closed again, and the start fails.
TEST_F(PassThroughTest, StartWithoutCsmiPortFails) {
    addDrive<simdrive::AtaDrive>("/dev/csmi0", kSata);
    CvUID plugin = CV_UID_NONE;
    CvError error{};
    EXPECT_EQ(0, CvPluginManager_Load("cvpl-csmi", nullptr, &plugin, &error));
    EXPECT_STREQ(error.message, "No CSMI port found (probed /dev/csmi%d for 0 to 255)");
    EXPECT_EQ(kernel().openDescriptors(), 0);
    EXPECT_EQ(kernel().observed().sgRequests, 0u);
}

}  // namespace
