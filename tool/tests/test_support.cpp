#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace firmstep::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "firmstep-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> EnvironmentWith(const Environment& environment)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& variable) {
            return text.compare(0, variable.first.size() + 1, variable.first + "=") == 0;
        });
        if (!replaced)
            result.push_back(text);
    }
    for (const auto& [name, value] : environment)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<std::string> ProgramCommandLine(const std::vector<std::string>& args)
{
    std::vector<std::string> commandLine{FIRMSTEP_PROGRAM};
    commandLine.insert(commandLine.end(), args.begin(), args.end());
    return commandLine;
}

std::vector<char*> ExecPointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

ProgramResult RunProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                         const Environment& environment, const std::string& input)
{
    std::vector<std::string> variables = EnvironmentWith(environment);
    std::vector<std::string> commandLine = ProgramCommandLine(args);
    const std::vector<char*> envp = ExecPointers(variables);
    const std::vector<char*> argv = ExecPointers(commandLine);
    // The input is written to a file first, so the child never blocks the
    // parent on a full pipe.
    const TempDir inputDir;
    const std::string inputPath = (inputDir.path() / "stdin").string();
    WriteFile(inputPath, input);

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return {};
    }
    if (child == 0) {
        const int in = ::open(inputPath.c_str(), O_RDONLY);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(pipeFds[1], STDOUT_FILENO) < 0 ||
            ::chdir(directory.c_str()) != 0)
            ::_exit(126);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ProgramResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0)
            result.output.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return result;
}

std::string ExpectedBanner()
{
    return "\nfirmstep version 1.7.0.0 using Corvane 1.12.4.0\n"
           "  Firmware download and activation utility for Veltrane VT drives\n\n";
}

}  // namespace firmstep::test
