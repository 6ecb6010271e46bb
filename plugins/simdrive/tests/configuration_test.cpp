// The plug-in's life: what its settings register, how bad settings fail the
// load, unloading, persistence across runs, the demo farm, and commands from
// several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <latch>
#include <thread>

#include "sim_farm.h"
#include "simdrive/state_store.h"
#include "test_farm.h"

namespace simdrive_plugin_test {
namespace {

constexpr const char* kGoodDrive = "Drive.a=kind=ata; model=VT-1; serial=S1; revision=R1\n";

CvUID simulatorPlugin() {
    auto plugins = std::make_unique<CvUIDList>();
    CvError error{};
    EXPECT_EQ(1, CvPluginManager_GetPluginList(plugins.get(), &error));
    for (int32_t i = 0; i < plugins->count; ++i) {
        CvPluginInfo info{};
        if (CvPlugin_GetInfo(plugins->uids[i], &info, &error) && std::string(info.name) == "Drive Simulator Plugin") {
            return plugins->uids[i];
        }
    }
    return CV_UID_NONE;
}

TEST(SimDrivePlugin, RegistersOneResourcePerAccessPath) {
    SimFarm farm(kFarmSettings);
    ASSERT_TRUE(farm.configured()) << farm.configureError().message;
    EXPECT_EQ(farm.resourceNames(),
              (std::vector<std::string>{"simdrive:ata0", "simdrive:sas0", "simdrive:sas0:2", "simdrive:nvme0"}));
    EXPECT_EQ(farm.serviceType("simdrive:ata0"), "ata/device");
    EXPECT_EQ(farm.serviceType("simdrive:sas0"), "scsi/device");
    EXPECT_EQ(farm.serviceType("simdrive:sas0:2"), "scsi/device");
    EXPECT_EQ(farm.serviceType("simdrive:nvme0"), "nvme/device");
    EXPECT_EQ(farm.description("simdrive:sas0:2"), "Simulated SCSI drive VT SAS-900, serial SAS0001, path 2 of 2");
    EXPECT_EQ(farm.description("simdrive:ata0"), "Simulated ATA drive VT-2000 Series, serial ATA0001");

    CvError error{};
    ASSERT_EQ(1, CvPluginManager_Unload(simulatorPlugin(), &error)) << error.message;
    EXPECT_TRUE(registeredResources().empty());
}

TEST(SimDrivePlugin, MalformedSettingsFailTheLoadNamingTheSetting) {
    struct Case {
        std::string settings;
        const char* message;
    };
    const Case cases[] = {
        {"Drives=a,b\n" + std::string(kGoodDrive) + "Drive.b=kind=ata; model=VT-2; serial=S2; revision=TOOLONGREV\n",
         "Setting 'Drive.b': key 'revision': longer than 8 characters"},
        {"Drives=a,b\n" + std::string(kGoodDrive), "Setting 'Drive.b' is missing"},
        {"Drives=a,b\n" + std::string(kGoodDrive) + "Drive.b=kind=nvme; model\n", "Setting 'Drive.b': 'model': expected key=value"},
        {"Drives=a,b\n" + std::string(kGoodDrive) + "Drive.b=kind=tape; model=X; serial=S2; revision=R1\n",
         "Setting 'Drive.b': key 'kind': not ata, scsi or nvme: 'tape'"},
        {"Drives=a,b\n" + std::string(kGoodDrive) + "Drive.b=kind=ata; model=VT-2; serial=S1; revision=R1\n",
         "Setting 'Drive.b': serial 'S1' is already used by drive 'a'"},
        {"Drives=a\n" + std::string(kGoodDrive) + "Paths.a=9\n", "Setting 'Paths.a': not a number from 1 to 8: '9'"},
        {"Drives=a\n" + std::string(kGoodDrive) + "Drive.c=kind=ata\n", "Setting 'Drive.c' names a drive that 'Drives' does not list"},
        {"Drives=a\n" + std::string(kGoodDrive) + "Colour=blue\n", "Unknown setting 'Colour'"},
        {"Drives=a,a\n" + std::string(kGoodDrive), "Setting 'Drives': drive 'a' is listed twice"},
    };
    for (const Case& c : cases) {
        SimFarm farm(c.settings);
        EXPECT_FALSE(farm.configured());
        EXPECT_EQ(farm.configureError().code, CV_ERROR_INVALID_INPUT);
        EXPECT_STREQ(farm.configureError().message, c.message);
        EXPECT_TRUE(registeredResources().empty()) << c.message;
        EXPECT_EQ(simulatorPlugin(), CV_UID_NONE);
    }
}

TEST(SimDrivePlugin, ABrokenStateFileFailsTheLoadNamingTheDrive) {
    TempDir state;
    simdrive::StateStore store(state.path());
    std::string problem;
    ASSERT_TRUE(store.save("ata-S1", {{"kind", "ata"}, {"model", "VT-1"}, {"serial", "S1"}, {"revision", "two words"}},
                           problem))
        << problem;
    SimFarm farm("Drives=a\n" + std::string(kGoodDrive) + "StateDir=" + state.path().string() + "\n");
    EXPECT_FALSE(farm.configured());
    EXPECT_EQ(farm.configureError().code, CV_ERROR_FAILED);
    EXPECT_EQ(farm.configureError().message, "Drive 'a' cannot be built: state file '" +
                                                 store.pathFor("ata-S1").string() + "': bad value for key 'revision'");
    EXPECT_TRUE(registeredResources().empty());
}

TEST(SimDrivePlugin, PersistedFirmwareSurvivesTheNextRun) {
    TempDir state;
    std::string settings = std::string(kFarmSettings) + "StateDir=" + state.path().string() + "\n";
    std::vector<uint8_t> image = makeImage("VT-2000", "VT02", 30000);
    {
        SimFarm farm(settings);
        ASSERT_TRUE(farm.configured()) << farm.configureError().message;
        EXPECT_EQ(ataDownload(farm, "simdrive:ata0", 0x03, image, 64).outStatus, 0x50);
    }
    SimFarm farm(settings);
    ASSERT_TRUE(farm.configured()) << farm.configureError().message;
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT02");
    EXPECT_EQ(scsiRevision(farm, "simdrive:sas0"), "V001");
}

// The demo configuration names relative paths, so it is read from a scratch
// working directory.
TEST(SimDrivePlugin, TheDemoFarmLoads) {
    std::filesystem::path ini = DEMO_INI_FILE;
    TempDir scratch;
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    CvInitialize();
    CvError error{};
    EXPECT_EQ(1, CvHelper_ConfigureUsingINIFile(ini.c_str(), &error)) << error.message;
    std::vector<CvUID> resources = registeredResources();
    std::vector<std::string> types;
    for (CvUID resource : resources) {
        CvUID service = CV_UID_NONE;
        for (const char* type : {"ata/device", "scsi/device", "nvme/device"}) {
            if (CvResource_LookupResourceService(resource, type, &service, &error) && service != CV_UID_NONE) {
                types.emplace_back(type);
            }
        }
    }
    EXPECT_EQ(types.size(), resources.size());
    for (const char* type : {"ata/device", "scsi/device", "nvme/device"}) {
        EXPECT_GE(std::count(types.begin(), types.end(), type), 2) << type;
    }
    EXPECT_EQ(1, CvUninitialize(&error)) << error.message;
    std::filesystem::current_path(previous);
}

TEST(SimDrivePlugin, CommandsFromSeveralThreadsAreSerialisedPerDrive) {
    SimFarm farm(kFarmSettings);
    ASSERT_TRUE(farm.configured()) << farm.configureError().message;
    std::vector<uint8_t> image = makeImage("VT-2000", "VT02", 60000);
    constexpr int kRounds = 20;
    std::latch start(3);
    auto inquire = [&](const char* resource) {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) EXPECT_EQ(scsiRevision(farm, resource), "V001");
    };
    std::thread first(inquire, "simdrive:sas0");
    std::thread second(inquire, "simdrive:sas0:2");
    std::thread download([&] {
        start.arrive_and_wait();
        EXPECT_EQ(ataDownload(farm, "simdrive:ata0", 0x03, image, 8).outCount, 0x02);
    });
    first.join();
    second.join();
    download.join();
    EXPECT_EQ(ataRevision(farm, "simdrive:ata0"), "VT02");
}

}  // namespace
}  // namespace simdrive_plugin_test
