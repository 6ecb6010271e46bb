// Where plug-in files are looked for, in order.
#include <corvane.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "managers/plugin_search_path.h"

namespace {

using corvane::PluginFileCandidates;
using Paths = std::vector<std::string>;

TEST(PluginSearchPath, VariableDirectoriesThenNextToTheLibraryThenTheBareName)
{
    EXPECT_EQ((Paths{"/opt/a/cvpl-local.so", "/opt/b/cvpl-local.so", "/usr/lib/corvane-plugins/cvpl-local.so",
                     "cvpl-local.so"}),
              PluginFileCandidates("cvpl-local.so", "/opt/a:/opt/b/", "/usr/lib"));
}

TEST(PluginSearchPath, EmptyEntriesAndUnknownPlacesAreSkipped)
{
    EXPECT_EQ((Paths{"rel/x.so", "x.so"}), PluginFileCandidates("x.so", "::rel:", ""));
    EXPECT_EQ((Paths{"/lib/corvane-plugins/x.so", "x.so"}), PluginFileCandidates("x.so", nullptr, "/lib"));
    EXPECT_EQ((Paths{"x.so"}), PluginFileCandidates("x.so", "", ""));
}

TEST(PluginSearchPath, AbsoluteNameIsTriedAlone)
{
    EXPECT_EQ((Paths{"/tmp/p/x.so"}), PluginFileCandidates("/tmp/p/x.so", "/opt/a", "/usr/lib"));
}

TEST(PluginSearchPath, DirectoryOfALoadedLibrary)
{
    const std::string directory = corvane::LibraryDirectoryOf(reinterpret_cast<const void*>(&CvPluginManager_Load));
    ASSERT_FALSE(directory.empty());
    EXPECT_TRUE(std::filesystem::equivalent(CORVANE_LIBRARY_DIR, directory)) << directory;
    EXPECT_EQ("", corvane::LibraryDirectoryOf(nullptr));
}

}  // namespace
