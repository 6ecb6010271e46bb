// Bringing the framework up and down, and what the registries say when they are
// not running.
#include <corvane.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Manager {
    const char* uninitializedMessage;
    void (*initialize)();
    int (*uninitialize)(CvError*);
};

// In shut-down order.
const std::vector<Manager> kManagers = {
    {"Machine manager is uninitialized", CvMachineManager_Initialize, CvMachineManager_Uninitialize},
    {"Plugin manager is uninitialized", CvPluginManager_Initialize, CvPluginManager_Uninitialize},
    {"Bridge manager is uninitialized", CvBridgeManager_Initialize, CvBridgeManager_Uninitialize},
    {"Server manager is uninitialized", CvServerManager_Initialize, CvServerManager_Uninitialize},
    {"Resource manager is uninitialized", CvResourceManager_Initialize, CvResourceManager_Uninitialize},
    {"Machine service manager is uninitialized", CvMachineServiceManager_Initialize,
     CvMachineServiceManager_Uninitialize},
};

TEST(Lifecycle, ManagersRefuseCallsBeforeInitialize)
{
    for (const Manager& manager : kManagers) {
        CvError error;
        EXPECT_EQ(0, manager.uninitialize(&error));
        EXPECT_EQ(CV_ERROR_FAILED, error.code);
        EXPECT_STREQ(manager.uninitializedMessage, error.message);
    }
}

TEST(Lifecycle, SecondUninitializeFailsAndChangesNothing)
{
    CvInitialize();
    CvError error;
    ASSERT_EQ(1, CvUninitialize(&error));
    EXPECT_EQ(0, error.code);
    EXPECT_EQ(0, CvUninitialize(&error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Machine manager is uninitialized", error.message);
    // Still down: every registry refuses.
    EXPECT_EQ(0, CvPluginManager_Uninitialize(&error));
    EXPECT_EQ(0, CvMachineServiceManager_Uninitialize(&error));
}

TEST(Lifecycle, InitializeTwiceNeedsOneUninitialize)
{
    CvInitialize();
    CvInitialize();
    CvError error;
    EXPECT_EQ(1, CvUninitialize(&error));
    EXPECT_EQ(0, CvUninitialize(&error));
    // And the framework can be brought up anew.
    CvInitialize();
    EXPECT_EQ(1, CvUninitialize(&error));
}

TEST(Lifecycle, FailedShutdownRestartsTheRegistriesItHadStopped)
{
    CvInitialize();
    CvError error;
    // The resource manager is taken down behind the framework's back.
    ASSERT_EQ(1, CvResourceManager_Uninitialize(&error));

    EXPECT_EQ(0, CvUninitialize(&error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Resource manager is uninitialized", error.message);

    // Those before it in shut-down order run again, and the one after it was
    // never touched: each of them shuts down once more.
    for (const Manager& manager : kManagers) {
        if (std::string(manager.uninitializedMessage) == "Resource manager is uninitialized") continue;
        EXPECT_EQ(1, manager.uninitialize(&error)) << manager.uninitializedMessage;
    }
    for (const Manager& manager : kManagers) manager.initialize();
    EXPECT_EQ(1, CvUninitialize(&error));
    EXPECT_EQ(0, CvUninitialize(&error));
}

}  // namespace
