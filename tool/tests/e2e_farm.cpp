#include "e2e_farm.h"

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
    return RunProgram(args, dir_.path(), {}, input);
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
