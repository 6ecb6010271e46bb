#include "e2e_farm.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "simdrive/firmware_image.h"

namespace firmstep::test {

Farm::Farm(const std::vector<SimDrive>& drives)
{
    std::string names;
    std::string lines;
    for (const SimDrive& drive : drives) {
        names += (names.empty() ? "" : ",") + drive.name;
        lines += "Drive." + drive.name + "=" + drive.description + "\n";
        if (drive.paths != 1)
            lines += "Paths." + drive.name + "=" + std::to_string(drive.paths) + "\n";
    }
    WriteFile(dir_.path() / "firmstep.ini",
              "[Corvane]\nPlugins=cvpl-local,cvpl-simdrive\nConnections=cv-local://localhost\n\n"
              "[cvpl-simdrive]\nDrives=" + names + "\n" + lines + "StateDir=state\n");
}

ProgramResult Farm::run(std::vector<std::string> args, const std::string& input) const
{
    args.push_back("-cfg");
    args.push_back("firmstep.ini");
    return RunProgramWithInput(args, dir_.path(), input);
}

std::string Farm::savedRevision(const std::string& kind, const std::string& serial) const
{
    std::istringstream state(ReadFile(dir_.path() / "state" / (kind + "-" + serial + ".state")));
    for (std::string line; std::getline(state, line);) {
        const std::string key = "revision = ";
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    }
    return "";
}

void Farm::writeImage(const std::string& name, const std::string& prefix, const std::string& revision,
                      std::size_t size) const
{
    WriteFirmwareImage(dir_.path() / name, prefix, revision, size);
}

void WriteFirmwareImage(const std::filesystem::path& path, const std::string& prefix, const std::string& revision,
                        std::size_t size)
{
    simdrive::ImageRecipe recipe;
    recipe.modelPrefix = prefix;
    recipe.revision = revision;
    recipe.payload = simdrive::patternPayload(size - simdrive::kImageHeaderSize, 7);
    recipe.alignment = 1;
    std::string error;
    const std::vector<uint8_t> image = simdrive::buildImage(recipe, error);
    if (image.size() != size)
        throw std::runtime_error("cannot build image " + path.string() + ": " + error);
    WriteFile(path, std::string(image.begin(), image.end()));
}

ProgramResult RunProgramWithInput(const std::vector<std::string>& args, const std::filesystem::path& directory,
                                  const std::string& input)
{
    std::vector<std::string> copies;
    copies.push_back(FIRMSTEP_PROGRAM);
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The input is written to a file first, so the child never blocks the
    // parent on a full pipe.
    TempDir inputDir;
    const std::string inputPath = (inputDir.path() / "stdin").string();
    WriteFile(inputPath, input);

    int outPipe[2];
    if (::pipe(outPipe) != 0)
        return {};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return {};
    }
    if (child == 0) {
        const int in = ::open(inputPath.c_str(), O_RDONLY);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(outPipe[1], STDOUT_FILENO) < 0 ||
            ::chdir(directory.c_str()) != 0)
            ::_exit(126);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    ::close(outPipe[1]);
    ProgramResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(outPipe[0], buffer, sizeof buffer);
        if (got > 0)
            result.output.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(outPipe[0]);
    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return result;
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(part) != std::string::npos)
            lines.push_back(line);
    return lines;
}

}  // namespace firmstep::test
