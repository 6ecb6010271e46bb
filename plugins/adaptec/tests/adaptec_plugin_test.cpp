// cvpl-adaptec over arcshim and the simulated SDK: resources per drive, the
// service each drive's answer to a SAT IDENTIFY calls for, the SAT CDBs of ATA
// commands and the refusals of the SCSI service.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "adaptec_device.h"
#include "arcshim/arcshim.h"
#include "device_contracts.h"
#include "passthrough_fixture.h"

namespace {

using passthrough_test::PassThroughTest;

constexpr const char* kFarm =
    "Drives=vt-sata1,vt-sas1\n"
    "Drive.vt-sata1=kind=ata; model=VT-2000 Series; serial=APA0001; revision=VT01; oui=0x02A001\n"
    "Drive.vt-sas1=kind=scsi; vendor=VT; product=SAS-900; serial=APS0001; revision=VT01\n"
    "Controllers=0\nController.0=vt-sata1, vt-sas1\n";

class AdaptecPluginTest : public PassThroughTest {
protected:
    void SetUp() override {
        PassThroughTest::SetUp();
        farm_ = std::filesystem::temp_directory_path() / ("adaptec-farm-" + std::to_string(::getpid()));
        std::ofstream(farm_) << kFarm;
        ::setenv("SIM_ARCSDK_FARM", farm_.c_str(), 1);
        loadPlugin("cvpl-adaptec");
        drainEvents();
        sata_ = lookup("Adaptec:p0");
        sas_ = lookup("Adaptec:p1");
    }
    void TearDown() override {
        PassThroughTest::TearDown();
        ::unsetenv("SIM_ARCSDK_FARM");
        std::filesystem::remove(farm_);
    }
    static CvUID lookup(const char* name) {
        CvUID resource = CV_UID_NONE;
        CvError error{};
        EXPECT_EQ(1, CvResourceManager_LookupResource(name, &resource, &error)) << error.message;
        return resource;
    }
    Outcome scsi(ScsiCommandBlock& block, void* data = nullptr, uint32_t length = 0) {
        return run(sas_, serviceOf(sas_, "scsi/device"), 6, &block, sizeof block, data, length);
    }

    std::filesystem::path farm_;
    CvUID sata_ = CV_UID_NONE, sas_ = CV_UID_NONE;
};

TEST_F(AdaptecPluginTest, DrivesGetTheServiceTheirIdentifyAnswerCallsFor) {
    CvResourceInfo info{};
    CvError error{};
    ASSERT_EQ(1, CvResource_GetInfo(sata_, &info, &error));
    EXPECT_STREQ(info.description, "Drive controlled by Adaptec library");
    const CvUID ata = serviceOf(sata_, "ata/device");
    ASSERT_NE(ata, CV_UID_NONE);
    EXPECT_EQ(serviceOf(sata_, "scsi/device"), CV_UID_NONE);
    ASSERT_NE(serviceOf(sas_, "scsi/device"), CV_UID_NONE);
    EXPECT_EQ(serviceOf(sas_, "ata/device"), CV_UID_NONE);

    AtaCommandBlock identify{};
    identify.protocol = ATA_PROTOCOL_PIO_IN;
    identify.inputMask = ATA_REG_COMMAND;
    identify.command = 0xEC;
    uint8_t data[512] = {};
    Outcome outcome = run(sata_, ata, 6, &identify, sizeof identify, data, sizeof data);
    ASSERT_EQ(outcome.result, 1) << outcome.error.message;
    EXPECT_EQ(data[54 + 1], 'V');
    EXPECT_EQ(identify.resultFlags, 0);  // no registers come back through the SDK

    AtaAbility ability{};
    int32_t index = 4;
    ASSERT_EQ(run(sata_, ata, 5, &index, 4, &ability, sizeof ability).result, 1);
    EXPECT_EQ(ability.identifier, 4);
    EXPECT_EQ(ability.maxTransferBytes, 130560u);
    EXPECT_EQ(ability.writableRegisters, 0x0FFB);
    DeviceSetting setting{};
    EXPECT_STREQ(run(sata_, ata, 2, &setting, sizeof setting).error.message, "Unsupported ATA setting to get: 0");
}

TEST_F(AdaptecPluginTest, ScsiCommandsAndTheirRefusals) {
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

    ScsiCommandBlock both = inquiry;
    both.direction = SCSI_DIRECTION_BIDIRECTIONAL;
    outcome = scsi(both, data, sizeof data);
    EXPECT_EQ(outcome.error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(outcome.error.message, "Adaptec plugin does not support this protocol");
    EXPECT_EQ(both.status, 0xFF);
    both.direction = 9;
    EXPECT_STREQ(scsi(both, data, sizeof data).error.message, "Protocol not recognized");
    ScsiCommandBlock longCdb{};
    longCdb.cdbLength = 17;
    EXPECT_STREQ(scsi(longCdb).error.message, "CDB too large: 17");

    // A command the drive refuses fails with the SDK's code.
    ScsiCommandBlock unknown{};
    unknown.cdbLength = 6;
    unknown.cdb[0] = 0xC7;
    outcome = scsi(unknown);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_STREQ(outcome.error.message, "adaptec scsi passthru failed, returned 2");
    EXPECT_EQ(unknown.status, 0xFF);

    uint64_t address = 0;
    EXPECT_STREQ(run(sas_, serviceOf(sas_, "scsi/device"), 12, &address, 8).error.message,
                 "Get SAS address not supported");
    EXPECT_STREQ(run(sas_, serviceOf(sas_, "scsi/device"), 7, &address, 8).error.message,
                 "Unsupported function code: 7");
}

TEST_F(PassThroughTest, AdaptecStartWithoutASystemSucceedsEmpty) {
    ::unsetenv("SIM_ARCSDK_FARM");
    const auto previous = std::filesystem::current_path();
    std::string empty = (std::filesystem::temp_directory_path() / "adaptec-none-XXXXXX").string();
    ASSERT_NE(::mkdtemp(empty.data()), nullptr);
    std::filesystem::current_path(empty);  // no farm file here
    testing::internal::CaptureStderr();
    const CvUID plugin = loadPlugin("cvpl-adaptec");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Adaptec system not found...\n");
    std::filesystem::current_path(previous);
    std::filesystem::remove(empty);
    EXPECT_NE(plugin, CV_UID_NONE);
    CvUIDList list{};
    CvError error{};
    ASSERT_EQ(1, CvResourceManager_GetResourceList(&list, &error));
    EXPECT_EQ(list.count, 0);
}

// The SAT CDB of each protocol family, and what is never written.
TEST(AdaptecAtaCdb, ProtocolsRegistersAndRefusals) {
    struct Case {
        uint8_t protocol;
        uint32_t length;
        uint8_t byte1, byte2;
        int direction;
    };
    const Case cases[] = {
        {ATA_PROTOCOL_NON_DATA, 0, 0x06, 0x00, ARCSHIM_NO_DATA},
        {ATA_PROTOCOL_NON_DATA_EXT, 0, 0x07, 0x00, ARCSHIM_NO_DATA},
        {ATA_PROTOCOL_PIO_IN, 512, 0x08, 0x0E, ARCSHIM_DATA_FROM_DRIVE},
        {ATA_PROTOCOL_PIO_OUT_EXT, 1024, 0x0B, 0x06, ARCSHIM_DATA_TO_DRIVE},
        {ATA_PROTOCOL_DMA_IN_EXT, 512, 0x0D, 0x0E, ARCSHIM_DATA_FROM_DRIVE},
        {ATA_PROTOCOL_DMA_OUT, 4096, 0x0C, 0x06, ARCSHIM_DATA_TO_DRIVE},
    };
    for (const Case& c : cases) {
        AtaCommandBlock block{};
        block.protocol = c.protocol;
        block.inputMask = ATA_REG_SET_48BIT;
        block.command = 0x92;
        block.features = 3;
        block.featuresExp = 0x44;
        block.lbaMid = 0x12;
        block.lbaHighExp = 0x55;
        block.device = 0xA0;
        uint8_t cdb[16];
        int direction = -1;
        CvError error{};
        ASSERT_TRUE(adaptec::buildAtaCdb(block, c.length, cdb, direction, &error)) << error.message;
        EXPECT_EQ(cdb[0], 0x85);
        EXPECT_EQ(cdb[1], c.byte1) << int(c.protocol);
        EXPECT_EQ(cdb[2], c.byte2) << int(c.protocol);
        EXPECT_EQ(direction, c.direction);
        EXPECT_EQ(cdb[4], 3);
        EXPECT_EQ(cdb[6], 0);  // the count register, written after the length
        EXPECT_EQ(cdb[10], 0x12);
        EXPECT_EQ(cdb[13], 0xA0);
        EXPECT_EQ(cdb[14], 0x92);
        const bool wide = AtaProtocol_Is48Bit(c.protocol);
        EXPECT_EQ(cdb[3], wide ? 0x44 : 0) << int(c.protocol);
        EXPECT_EQ(cdb[11], wide ? 0x55 : 0) << int(c.protocol);
    }
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_PIO_OUT;
    block.inputMask = ATA_REG_COMMAND;
    uint8_t cdb[16];
    int direction = 0;
    CvError error{};
    ASSERT_TRUE(adaptec::buildAtaCdb(block, 2048, cdb, direction, &error));
    EXPECT_EQ(cdb[6], 4);  // no count register given: the length in sectors
    EXPECT_FALSE(adaptec::buildAtaCdb(block, 100, cdb, direction, &error));
    EXPECT_STREQ(error.message,
                 "Adaptec plugin only supports transfers that are a multiple of the sector size (512), found 100");
    block.protocol = 8;
    EXPECT_FALSE(adaptec::buildAtaCdb(block, 0, cdb, direction, &error));
    EXPECT_STREQ(error.message, "Unsupported protocol encountered: 8");
    block.protocol = ATA_PROTOCOL_NON_DATA;
    block.options = ATA_OPTION_OFFLINE;
    EXPECT_FALSE(adaptec::buildAtaCdb(block, 0, cdb, direction, &error));
    EXPECT_STREQ(error.message, "Offline flag not supported");
}

}  // namespace
