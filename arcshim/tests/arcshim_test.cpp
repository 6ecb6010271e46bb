// arcshim over the simulated SDK: the drive table follows the object tree
// depth first, commands reach drives by index, and a missing system or index
// is reported as the callers expect.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "arcshim/arcshim.h"

namespace {

constexpr const char* kFarm =
    "Drives=vt-sata1,vt-sas1,other-sas\n"
    "Drive.vt-sata1=kind=ata; model=VT-2000 Series; serial=ARA0001; revision=VT01; oui=0x02A001\n"
    "Drive.vt-sas1=kind=scsi; vendor=VT; product=SAS-900; serial=ARS0001; revision=VT01\n"
    "Drive.other-sas=kind=scsi; vendor=ACME; product=SAS Disk; serial=ACS0001; revision=A100\n"
    "Controllers=0\nController.0=vt-sata1, vt-sas1\nArray.0=other-sas\n";

constexpr uint8_t kInquiry[6] = {0x12, 0, 0, 0, 96, 0};
constexpr uint8_t kSatIdentify[16] = {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0};

class ArcshimTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("arcshim-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        adaptec_uninitializeLibrary();
        ::unsetenv("SIM_ARCSDK_FARM");
        std::filesystem::remove_all(dir_);
    }
    void useFarm() {
        const auto path = dir_ / "farm.properties";
        std::ofstream(path) << kFarm;
        ::setenv("SIM_ARCSDK_FARM", path.c_str(), 1);
    }
    std::filesystem::path dir_;
};

TEST_F(ArcshimTest, TableFollowsTheTreeAndCommandsReachTheDrives) {
    useFarm();
    EXPECT_EQ(adaptec_getNumHardDrives(), 0);
    adaptec_initializeLibrary();
    ASSERT_EQ(adaptec_getNumHardDrives(), 3);
    adaptec_initializeLibrary();  // again: the same table, not twice the drives
    ASSERT_EQ(adaptec_getNumHardDrives(), 3);

    // The array's drive comes before the controller's own drives.
    uint8_t data[96] = {};
    ASSERT_EQ(adaptec_scsiPassThruCommand(0, kInquiry, 6, data, sizeof data, ARCSHIM_DATA_FROM_DRIVE), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 4), "ACME");

    uint8_t identify[512] = {};
    EXPECT_EQ(adaptec_scsiPassThruCommand(1, kSatIdentify, 16, identify, sizeof identify, ARCSHIM_DATA_FROM_DRIVE), 0);
    EXPECT_EQ(identify[54 + 1], 'V');  // model words are byte-swapped

    // The SAS drive refuses the SAT CDB; nothing is copied back.
    std::memset(identify, 0xAA, sizeof identify);
    EXPECT_NE(adaptec_scsiPassThruCommand(2, kSatIdentify, 16, identify, sizeof identify, ARCSHIM_DATA_FROM_DRIVE), 0);
    EXPECT_EQ(identify[0], 0xAA);

    testing::internal::CaptureStdout();
    EXPECT_EQ(adaptec_scsiPassThruCommand(3, kInquiry, 6, data, sizeof data, ARCSHIM_DATA_FROM_DRIVE),
              ARCSHIM_NO_SUCH_DRIVE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error, could not find drive at index 3\n");

    adaptec_uninitializeLibrary();
    EXPECT_EQ(adaptec_getNumHardDrives(), 0);
}

TEST_F(ArcshimTest, NoSystemLeavesTheTableEmpty) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);  // no farm file here either
    testing::internal::CaptureStderr();
    adaptec_initializeLibrary();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Adaptec system not found...\n");
    std::filesystem::current_path(previous);
    EXPECT_EQ(adaptec_getNumHardDrives(), 0);
    uint8_t data[96] = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(adaptec_scsiPassThruCommand(0, kInquiry, 6, data, sizeof data, ARCSHIM_DATA_FROM_DRIVE),
              ARCSHIM_NO_SUCH_DRIVE);
    testing::internal::GetCapturedStdout();
}

}  // namespace
