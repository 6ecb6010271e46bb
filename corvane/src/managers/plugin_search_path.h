// Where a plug-in's library file is looked for, in order.
#pragma once

#include <string>
#include <vector>

namespace corvane {

// Environment variable with extra plug-in directories, colon-separated.
inline constexpr const char* kPluginPathVariable = "CORVANE_PLUGIN_PATH";
// Directory next to libcorvane.so that holds the shipped plug-ins.
inline constexpr const char* kPluginSubdirectory = "corvane-plugins";

// The paths to try for a normalised file name ("cvpl-local.so"): each
// directory of searchPath (empty entries skipped; null means none), then
// <corvaneDirectory>/corvane-plugins (when that directory is known), then the
// file name alone for the dynamic loader's own search. An absolute file name is
// tried as it is and nowhere else.
std::vector<std::string> PluginFileCandidates(const std::string& fileName, const char* searchPath,
                                              const std::string& corvaneDirectory);

// Directory of the loaded libcorvane.so; empty when it cannot be told.
const std::string& CorvaneLibraryDirectory();

// Directory of the loaded file (program or library) that holds this address;
// empty when it cannot be told.
std::string LibraryDirectoryOf(const void* address);

}  // namespace corvane
