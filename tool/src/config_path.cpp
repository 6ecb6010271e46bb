// On Linux a program is usually started from somewhere other than its own
// directory (through firmstep.sh, or from an installed bin/), so the default
// configuration file is looked for in two places: the current directory first,
// so an operator can keep a local configuration, then the directory of the
// program, where the build and the installation put the shipped firmstep.ini.
#include "config_path.h"

#include <filesystem>
#include <system_error>

namespace firmstep {

std::string ChooseConfigurationFile(const char* givenFile, bool presentInCurrentDirectory,
                                    const std::string& programDirectory)
{
    if (givenFile != nullptr)
        return givenFile;
    if (presentInCurrentDirectory || programDirectory.empty())
        return kDefaultConfigFileName;
    return (std::filesystem::path(programDirectory) / kDefaultConfigFileName).string();
}

std::string ProgramDirectory()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return program.parent_path().string();
}

std::string ResolveConfigurationFile(const char* givenFile)
{
    if (givenFile != nullptr)
        return givenFile;
    std::error_code error;
    const bool local = std::filesystem::is_regular_file(kDefaultConfigFileName, error);
    return ChooseConfigurationFile(nullptr, local, ProgramDirectory());
}

}  // namespace firmstep
