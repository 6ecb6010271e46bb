#include "config_path.h"
#include "exit_delay.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace firmstep {
namespace {

TEST(ExitDelay, NegativeMeansNoWaitAndHugeValuesAreClamped)
{
    EXPECT_EQ(ExitDelayMilliseconds(-1), 0u);
    EXPECT_EQ(ExitDelayMilliseconds(-2147483647 - 1), 0u);
    EXPECT_EQ(ExitDelayMilliseconds(0), 0u);
    EXPECT_EQ(ExitDelayMilliseconds(5), 5000u);
    EXPECT_EQ(ExitDelayMilliseconds(4294967), 4294967000u);   // largest that fits
    EXPECT_EQ(ExitDelayMilliseconds(4294968), 4294967295u);   // clamped
    EXPECT_EQ(ExitDelayMilliseconds(2147483647), 4294967295u);
}

TEST(ConfigPath, GivenFileWinsThenCurrentDirectoryThenProgramDirectory)
{
    EXPECT_EQ(ChooseConfigurationFile("mine.ini", true, "/opt/firmstep/bin"), "mine.ini");
    EXPECT_EQ(ChooseConfigurationFile(nullptr, true, "/opt/firmstep/bin"), "firmstep.ini");
    EXPECT_EQ(ChooseConfigurationFile(nullptr, false, "/opt/firmstep/bin"), "/opt/firmstep/bin/firmstep.ini");
    EXPECT_EQ(ChooseConfigurationFile(nullptr, false, ""), "firmstep.ini");
}

TEST(ConfigPath, ProgramDirectoryIsWhereThisProgramLives)
{
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(ProgramDirectory(), self.parent_path().string());
}

// Runs the resolver with the current directory set to a scratch directory.
class ConfigPathInDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    test::TempDir dir_;
    std::filesystem::path previous_;
};

TEST_F(ConfigPathInDirectory, UsesLocalFileWhenPresent)
{
    test::WriteFile(dir_.path() / "firmstep.ini", "[Corvane]\n");
    EXPECT_EQ(ResolveConfigurationFile(nullptr), "firmstep.ini");
}

TEST_F(ConfigPathInDirectory, FallsBackToTheProgramDirectory)
{
    std::filesystem::create_directory(dir_.path() / "firmstep.ini");  // not a file
    EXPECT_EQ(ResolveConfigurationFile(nullptr),
              (std::filesystem::path(ProgramDirectory()) / "firmstep.ini").string());
    EXPECT_EQ(ResolveConfigurationFile("given.ini"), "given.ini");
}

}  // namespace
}  // namespace firmstep
