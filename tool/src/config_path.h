// Where the configuration file is looked for.
#pragma once

#include <string>

namespace firmstep {

inline constexpr const char* kDefaultConfigFileName = "firmstep.ini";

// The file named by "-cfg" when given. Otherwise "firmstep.ini" in the current
// directory when it exists there, else the "firmstep.ini" next to the program.
std::string ResolveConfigurationFile(const char* givenFile);

// The decision itself, with the facts passed in: whether the current directory
// holds the default file, and the program's directory (empty when unknown).
std::string ChooseConfigurationFile(const char* givenFile, bool presentInCurrentDirectory,
                                    const std::string& programDirectory);

// Directory of the running program, from /proc/self/exe; empty when unknown.
std::string ProgramDirectory();

}  // namespace firmstep
