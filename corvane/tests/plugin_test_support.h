// Shared by the tests that load the test plug-ins (built into
// LOADER_TEST_PLUGIN_DIR from loader_plugins/).
#pragma once

#include <dlfcn.h>

#include <corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "log_capture.h"

namespace corvane_test {

// Puts the test plug-ins on the search path once, before any test runs; a
// directory that does not exist and an empty entry come first, so the loader
// has to go past them.
class PluginPathEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string path = std::string("/nonexistent-corvane-plugins::") + LOADER_TEST_PLUGIN_DIR;
        ::setenv("CORVANE_PLUGIN_PATH", path.c_str(), 1);
    }
};

// True while the dynamic loader has the test plug-in's file mapped.
inline bool IsMapped(const std::string& fileName)
{
    const std::string path = std::string(LOADER_TEST_PLUGIN_DIR) + "/" + fileName;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    ::dlclose(handle);
    return true;
}

inline std::vector<CvUID> PluginList()
{
    static CvUIDList list;  // 16 KiB: too large for comfort on the stack
    CvError error{};
    list.count = -1;
    EXPECT_EQ(1, CvPluginManager_GetPluginList(&list, &error)) << error.message;
    return {list.uids, list.uids + std::max(list.count, 0)};
}

// The messages of the level-4 lines the test plug-ins write, in order.
inline std::vector<std::string> EntryPointCalls(const LogCapture& capture)
{
    std::vector<std::string> calls;
    for (const LogLine& line : capture.lines())
        if (line.message.find(" entry point called") != std::string::npos) calls.push_back(line.message);
    return calls;
}

inline std::string LoadedLine(CvUID uid, const std::string& name)
{
    return "Plugin loaded - PluginID=" + std::to_string(uid) + " PluginName='" + name + "'";
}

inline std::string UnloadedLine(CvUID uid, const std::string& name)
{
    return "Plugin unloaded - PluginID=" + std::to_string(uid) + " PluginName='" + name + "'";
}

}  // namespace corvane_test
