// Helpers shared by the tool's tests: temporary directories, whole-file reads
// and running the built program.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace firmstep::test {

// A fresh directory removed again with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

struct ProgramResult {
    int status = -1;     // exit status, or -1 when the program did not exit normally
    std::string output;  // everything written to standard output
};

// Variables added to (or replaced in) the program's environment.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs the built firmstep with these arguments in `directory`, with these
// variables added to its environment and `input` on its standard input (the
// end of input at once when empty), and collects its standard output.
ProgramResult RunProgram(const std::vector<std::string>& args, const std::filesystem::path& directory,
                         const Environment& environment = {}, const std::string& input = "");

// The built firmstep and its arguments, as texts for execve.
std::vector<std::string> ProgramCommandLine(const std::vector<std::string>& args);
// The current environment with these variables set, as "NAME=value" texts;
// made before fork so that a child only calls execve.
std::vector<std::string> EnvironmentWith(const Environment& environment);
// Pointers to `texts` with a null after the last, as execve takes them; valid
// while `texts` is.
std::vector<char*> ExecPointers(std::vector<std::string>& texts);

// The banner that opens every run.
std::string ExpectedBanner();

}  // namespace firmstep::test
