// cvpl-storelib over the StoreLib stand-in: which drives become resources and
// with which service, the filter, the time-out, the requests the controller
// receives and the answers the blocks get, and libraries that are absent or
// refuse to start.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/ata_device.h"
#include "device/scsi_device.h"
#include "passthrough_fixture.h"
#include "sim_storelib.h"
#include "storelib_farm.h"
#include "sim_test_support.h"

namespace {

using passthrough_test::PassThroughTest;

// Controller 0 of the MegaRAID family at location "1": a SATA and a SAS drive,
// a drive of interface class 1, one of class 0 and an enclosure (type 13). One
// SAS-3 controller with one SAS drive.
const std::string kFarm =
    "Controller.mr0=family=megaraid; number=0; location=1\n"
    "Controller.hba=family=sas3; number=2\n"
    "Drive.sata=controller=mr0; device_id=0x108; slot=0; " + std::string(simdrive::test::kAtaVt) + "\n"
    "Drive.sas=controller=mr0; device_id=9; slot=1; " + simdrive::test::kScsiVt + "\n"
    "Drive.sas1=controller=mr0; device_id=10; slot=2; interface=1; "
    "kind=scsi; vendor=VT; product=SAS-1; serial=SAS1001; revision=V001\n"
    "Drive.none=controller=mr0; device_id=11; slot=3; interface=0\n"
    "Drive.enclosure=controller=mr0; device_id=252; slot=4; type=13\n"
    "Drive.hba=controller=hba; device_id=3; slot=7; "
    "kind=scsi; vendor=VT; product=SAS-3; serial=SAS3001; revision=V001\n";

constexpr uint32_t kSas3Controller = 4u << 24 | 2;

class StoreLibPluginTest : public PassThroughTest {
protected:
    void SetUp() override {
        farmFile_ = std::filesystem::temp_directory_path() /
                    ("storelib-farm-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".properties");
        ::setenv(simdrive::storelib::kFarmVariable, farmFile_.c_str(), 1);
        PassThroughTest::SetUp();
    }

    void TearDown() override {
        if (plugin_ != CV_UID_NONE) unloadPlugin(plugin_);
        PassThroughTest::TearDown();
        std::filesystem::remove(farmFile_);
        ::unsetenv(simdrive::storelib::kFarmVariable);
    }

    void load(const std::string& farm, const char* filter = "", const char* directory = SIM_STORELIB_DIR) {
        std::ofstream(farmFile_) << farm;
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "StoreLibDirectory", directory);
        StringMap_SetValue(settings, "DriveLocationFilter", filter);
        CvError error{};
        EXPECT_EQ(1, CvPluginManager_Load("cvpl-storelib", settings, &plugin_, &error)) << error.message;
        StringMap_Destroy(settings);
        drainEvents();
    }

    static CvUID resource(const char* name) {
        CvUID uid = CV_UID_NONE;
        CvError error{};
        EXPECT_EQ(1, CvResourceManager_LookupResource(name, &uid, &error));
        return uid;
    }

    static std::string description(CvUID uid) {
        CvResourceInfo info{};
        CvError error{};
        EXPECT_EQ(1, CvResource_GetInfo(uid, &info, &error)) << error.message;
        return info.description;
    }

    // What the stand-in of the MegaRAID family (or another) last received.
    static SimStoreLibObserved observed(const char* library = "libstorelib.so") {
        SimStoreLibObserved seen{};
        std::string path = std::string(SIM_STORELIB_DIR) + "/" + library;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(nullptr, handle);
        if (handle == nullptr) return seen;
        auto function = reinterpret_cast<SimStoreLibObservedFunction>(::dlsym(handle, SIM_STORELIB_OBSERVED_SYMBOL));
        if (function != nullptr) function(&seen);
        ::dlclose(handle);
        return seen;
    }

    Outcome ata(AtaCommandBlock& block, void* data = nullptr, uint32_t length = 0) {
        CvUID drive = resource("storelib:a0d264");
        return run(drive, serviceOf(drive, ATA_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block,
                   data, length);
    }

    Outcome scsi(ScsiCommandBlock& block, void* data = nullptr, uint32_t length = 0) {
        CvUID drive = resource("storelib:a0d9");
        return run(drive, serviceOf(drive, SCSI_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block,
                   data, length);
    }

    static ScsiCommandBlock cdbBlock(std::initializer_list<uint8_t> cdb, uint8_t direction) {
        ScsiCommandBlock block{};
        block.direction = direction;
        block.cdbLength = static_cast<uint8_t>(cdb.size());
        std::copy(cdb.begin(), cdb.end(), block.cdb);
        return block;
    }

    std::filesystem::path farmFile_;
    CvUID plugin_ = CV_UID_NONE;
};

TEST_F(StoreLibPluginTest, DisksGetTheServiceOfTheirInterfaceClass) {
    load(kFarm);
    CvUID adapter = resource("storelib:a0");
    ASSERT_NE(CV_UID_NONE, adapter);
    EXPECT_EQ("LSI MegaRAID SAS HBA", description(adapter));
    EXPECT_EQ("LSI IT/IR SAS-3 HBA", description(resource("storelib:a67108866")));
    CvUID sata = resource("storelib:a0d264");
    EXPECT_EQ("Drive controlled by LSI MegaRAID SAS HBA 0", description(sata));
    EXPECT_NE(CV_UID_NONE, serviceOf(sata, ATA_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(CV_UID_NONE, serviceOf(sata, SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_NE(CV_UID_NONE, serviceOf(resource("storelib:a0d9"), SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_NE(CV_UID_NONE, serviceOf(resource("storelib:a0d10"), SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_NE(CV_UID_NONE, serviceOf(resource("storelib:a67108866d3"), SCSI_DEVICE_SERVICE_TYPE));
    // Interface class 0: a resource without a device service; device type 13: no resource.
    CvUID none = resource("storelib:a0d11");
    ASSERT_NE(CV_UID_NONE, none);
    CvUIDList services{};
    CvError error{};
    ASSERT_EQ(1, CvResource_GetServiceList(none, &services, &error));
    EXPECT_EQ(0, services.count);
    EXPECT_EQ(CV_UID_NONE, resource("storelib:a0d252"));

    CvUID mpi = serviceOf(adapter, "mpi/adapter");
    ASSERT_NE(CV_UID_NONE, mpi);
    uint32_t word = 0;
    Outcome refused = run(adapter, mpi, 0, &word, sizeof word);
    EXPECT_EQ(0, refused.result);
    EXPECT_STREQ("Unsupported function code: 0", refused.error.message);
    EXPECT_TRUE(has(CV_LOG_INFO, "Initialized StoreLib MegaRAID SAS version 7.26"));
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING));
}

TEST_F(StoreLibPluginTest, FilterKeepsTheDriveAtOneLocation) {
    load(kFarm, "s1n1");
    EXPECT_NE(CV_UID_NONE, resource("storelib:a0d9"));
    EXPECT_EQ(CV_UID_NONE, resource("storelib:a0d264"));
    EXPECT_TRUE(has(CV_LOG_INFO, "filtered device (filter = s1n1, drive location = s1n0)\n"));
    // The SAS-3 controller's location is its number.
    EXPECT_TRUE(has(CV_LOG_INFO, "filtered device (filter = s1n1, drive location = s2n7)\n"));
}

TEST_F(StoreLibPluginTest, FilterMatchingNoLocationKeepsNoDrive) {
    load(kFarm, "s9n9");
    CvUIDList resources{};
    CvError error{};
    ASSERT_EQ(1, CvResourceManager_GetResourceList(&resources, &error));
    EXPECT_EQ(2, resources.count) << "the two adapters only";
    std::size_t filtered = 0;
    for (const auto& line : log_->lines()) filtered += line.message.rfind("filtered device", 0) == 0;
    EXPECT_EQ(5u, filtered) << "every disk of both controllers";
}

TEST_F(StoreLibPluginTest, TimeoutIsTwentySecondsUntilSettingZeroChangesIt) {
    load(kFarm);
    CvUID drive = resource("storelib:a0d264");
    CvUID service = serviceOf(drive, ATA_DEVICE_SERVICE_TYPE);
    DeviceSetting setting{0, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, run(drive, service, DEVICE_FUNCTION_GET_SETTING, &setting, sizeof setting).result);
    EXPECT_EQ(20000000000ull, setting.value);

    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_NON_DATA;
    block.command = 0xE5;  // CHECK POWER MODE
    ASSERT_EQ(1, ata(block).result);
    StoreLibStpRequest request;
    std::memcpy(&request, observed().request, sizeof request);
    EXPECT_EQ(20, request.timeoutSeconds);

    setting = {7500000000ull, DEVICE_SETTING_TIMEOUT};
    ASSERT_EQ(1, run(drive, service, DEVICE_FUNCTION_SET_SETTING, &setting, sizeof setting).result);
    ASSERT_EQ(1, ata(block).result);
    std::memcpy(&request, observed().request, sizeof request);
    EXPECT_EQ(7, request.timeoutSeconds);

    setting = {0, 1};
    Outcome refused = run(drive, service, DEVICE_FUNCTION_GET_SETTING, &setting, sizeof setting);
    EXPECT_STREQ("Unsupported ATA setting to get: 1", refused.error.message);
    CvUID sas = resource("storelib:a0d9");
    refused = run(sas, serviceOf(sas, SCSI_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_SET_SETTING, &setting, sizeof setting);
    EXPECT_STREQ("Unsupported CCISS setting to set: 1", refused.error.message);
}

// IDENTIFY DEVICE with every input register set and an empty input mask: the
// whole taskfile reaches the FIS, the data and the registers come back.
TEST_F(StoreLibPluginTest, StpRequestCarriesTheWholeTaskfile) {
    load(kFarm);
    AtaCommandBlock block{};
    block.protocol = ATA_PROTOCOL_PIO_IN;
    block.command = 0xEC;
    block.features = 0x11, block.featuresExp = 0x12, block.count = 0x01, block.countExp = 0x14;
    block.lbaLow = 0x21, block.lbaLowExp = 0x22, block.lbaMid = 0x23, block.lbaMidExp = 0x24;
    block.lbaHigh = 0x25, block.lbaHighExp = 0x26, block.device = 0xA0;
    std::vector<uint8_t> identify(512);
    ASSERT_EQ(1, ata(block, identify.data(), 512).result);

    SimStoreLibObserved seen = observed();
    EXPECT_EQ(STORELIB_CLASS_PASS_THROUGH, seen.command.commandClass);
    EXPECT_EQ(STORELIB_PASS_THROUGH_STP, seen.command.command);
    EXPECT_EQ(0u, seen.command.controllerId);
    EXPECT_EQ(68u + 512u, seen.command.dataSize);
    const uint8_t* request = seen.request;
    EXPECT_EQ(0x08, request[0]) << "the low byte of device ID 0x108";
    EXPECT_EQ(STORELIB_STP_DIRECTION_IN, request[1]);
    EXPECT_EQ(0x11, request[4]);
    const std::vector<uint8_t> fis(request + 8, request + 28);
    const std::vector<uint8_t> expected = {0x27, 0x80, 0xEC, 0x11, 0x21, 0x23, 0x25, 0xA0, 0x22, 0x24,
                                           0x26, 0x12, 0x01, 0x14, 0,    0,    0,    0,    0,    0};
    EXPECT_EQ(expected, fis);
    EXPECT_EQ(28, request[32]);
    EXPECT_EQ(512, request[36] | request[37] << 8);

    EXPECT_EQ(0x50, block.outStatus);
    EXPECT_EQ(ATA_RESULT_REGISTERS_VALID | ATA_RESULT_DURATION_VALID, block.resultFlags);
    std::string model;
    for (int word = 27; word < 47; ++word) model += {char(identify[2 * word + 1]), char(identify[2 * word])};
    EXPECT_EQ(0u, model.rfind("VT-2000 Series", 0)) << model;

    // The expanded registers come back for every 48-bit protocol, DMA included.
    for (uint8_t protocol : {ATA_PROTOCOL_PIO_IN, ATA_PROTOCOL_DMA_IN_EXT}) {
        block.protocol = protocol;
        block.outLbaLowExp = block.outCountExp = 0xEE;
        ASSERT_EQ(1, ata(block, identify.data(), 512).result);
        EXPECT_EQ(protocol == ATA_PROTOCOL_PIO_IN ? 0xEE : 0x00, block.outLbaLowExp) << int(protocol);
        EXPECT_EQ(protocol == ATA_PROTOCOL_PIO_IN ? 0xEE : 0x00, block.outCountExp) << int(protocol);
    }

    block.protocol = 7;
    Outcome refused = ata(block);
    EXPECT_EQ(0, refused.result);
    EXPECT_STREQ("Unsupported ATA protocol: 7", refused.error.message);
    AtaCommandBlock shortBlock[2]{};
    CvUID drive = resource("storelib:a0d264");
    refused = run(drive, serviceOf(drive, ATA_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_DO_COMMAND, shortBlock, 50);
    EXPECT_STREQ("Parameter buffer 0 is not exactly 51 bytes long for 'do command': 50", refused.error.message);
}

TEST_F(StoreLibPluginTest, ScsiRequestLayoutAndTheDrivesVerdict) {
    load(kFarm);
    ScsiCommandBlock block = cdbBlock({0x12, 0, 0, 0, 36, 0}, SCSI_DIRECTION_IN);
    std::vector<uint8_t> inquiry(36);
    ASSERT_EQ(1, scsi(block, inquiry.data(), 36).result);
    EXPECT_EQ(0, block.status);
    EXPECT_EQ(SCSI_RESULT_DURATION_VALID, block.resultFlags);
    EXPECT_EQ("SAS-900", std::string(inquiry.begin() + 16, inquiry.begin() + 23));
    SimStoreLibObserved seen = observed();
    EXPECT_EQ(STORELIB_PASS_THROUGH_SCSI, seen.command.command);
    EXPECT_EQ(65u + 36u, seen.command.dataSize);
    const uint8_t* request = seen.request;
    EXPECT_EQ(9, request[0] | request[1] << 8);
    EXPECT_EQ(1, request[2]);
    EXPECT_EQ(STORELIB_SCSI_DIRECTION_IN, request[4]) << "block direction 1";
    EXPECT_EQ(20, request[8]);
    EXPECT_EQ(6, request[11]);
    EXPECT_EQ(0x12, request[12]);
    EXPECT_EQ(36, request[60]);

    // Direction 2 (a WRITE BUFFER that the drive refuses) and 3.
    std::vector<uint8_t> segment(512);
    block = cdbBlock({0x3B, 0x1F, 0, 0, 0, 0, 0, 2, 0, 0}, SCSI_DIRECTION_OUT);
    ASSERT_EQ(1, scsi(block, segment.data(), 512).result);
    EXPECT_EQ(STORELIB_SCSI_DIRECTION_OUT, observed().request[4]);
    EXPECT_EQ(2, block.status) << "CHECK CONDITION reaches the block";
    ASSERT_GE(block.senseLength, 14);
    EXPECT_EQ(0x05, block.sense[2] & 0x0F);
    block = cdbBlock({0x12, 0, 0, 0, 36, 0}, SCSI_DIRECTION_BIDIRECTIONAL);
    ASSERT_EQ(1, scsi(block, inquiry.data(), 36).result);
    EXPECT_EQ(STORELIB_SCSI_DIRECTION_BOTH, observed().request[4]);

    block = cdbBlock({0x12}, SCSI_DIRECTION_IN);
    block.cdbLength = 49;
    Outcome refused = scsi(block, inquiry.data(), 36);
    EXPECT_EQ(0, refused.result);
    EXPECT_EQ(SCSI_STATUS_NOT_DELIVERED, block.status);
}

TEST_F(StoreLibPluginTest, AbilityListsOfBothServices) {
    load(kFarm);
    CvUID drive = resource("storelib:a0d264");
    CvUID service = serviceOf(drive, ATA_DEVICE_SERVICE_TYPE);
    int32_t count = 0;
    ASSERT_EQ(1, run(drive, service, DEVICE_FUNCTION_GET_ABILITY_COUNT, &count, sizeof count).result);
    EXPECT_EQ(10, count);
    int32_t index = 9;
    AtaAbility ability{};
    ASSERT_EQ(1, run(drive, service, DEVICE_FUNCTION_GET_ABILITY, &index, sizeof index, &ability, sizeof ability).result);
    EXPECT_EQ(13, ability.identifier);
    EXPECT_EQ(32u * 1024 * 1024, ability.maxTransferBytes);
    EXPECT_EQ(1u, ability.minLbaCount);
    index = 1;
    ASSERT_EQ(1, run(drive, service, DEVICE_FUNCTION_GET_ABILITY, &index, sizeof index, &ability, sizeof ability).result);
    EXPECT_EQ(0u, ability.maxTransferBytes);

    CvUID sas = resource("storelib:a0d9");
    ASSERT_EQ(1, run(sas, serviceOf(sas, SCSI_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_GET_ABILITY_COUNT, &count,
                     sizeof count)
                     .result);
    EXPECT_EQ(33, count);
}

TEST_F(StoreLibPluginTest, FamilyThatDoesNotInitialiseLeavesTheOthers) {
    load("FailInitialize=megaraid\n" + kFarm);
    EXPECT_TRUE(has(CV_LOG_WARNING, "Could not initialize StoreLib MegaRAID SAS library, error 0x8010"));
    EXPECT_FALSE(has(CV_LOG_WARNING, "Could not initialize StoreLib Out-of-Band library, error 0x8119"))
        << "the out-of-band family is never tried";
    EXPECT_EQ(CV_UID_NONE, resource("storelib:a0"));
    EXPECT_NE(CV_UID_NONE, serviceOf(resource("storelib:a67108866d3"), SCSI_DEVICE_SERVICE_TYPE));
    EXPECT_FALSE(anyAtLevel(CV_LOG_ERROR));
}

TEST_F(StoreLibPluginTest, WithoutAnyLibraryNothingIsRegisteredAndNothingIsAnError) {
    load(kFarm, "", "/nonexistent");
    for (const char* family : {"MegaRAID SAS", "IT/IR SAS-1", "IT/IR SAS-2", "IT/IR SAS-3"}) {
        EXPECT_TRUE(has(CV_LOG_WARNING, std::string("Could not initialize StoreLib ") + family +
                                            " library, error 0x8119"));
    }
    EXPECT_TRUE(has(CV_LOG_WARNING, "Could not initialize StoreLib library"));
    EXPECT_FALSE(anyAtLevel(CV_LOG_ERROR));
    CvUIDList resources{};
    CvError error{};
    ASSERT_EQ(1, CvResourceManager_GetResourceList(&resources, &error));
    EXPECT_EQ(0, resources.count);
}

}  // namespace
