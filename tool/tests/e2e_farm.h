// Support for the end-to-end tests: a farm of simulated drives described in a
// configuration written to a temporary directory, firmware images the
// simulated drives accept, the built firmstep run there with text on its
// standard input, and the drives' saved firmware state read back afterwards.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace firmstep::test {

struct SimDrive {
    std::string name;         // the name in the plug-in's "Drives" setting
    std::string description;  // "key=value; ..." as the plug-in reads it
    unsigned paths = 1;
};

// A temporary directory holding "firmstep.ini" that loads cvpl-local and
// cvpl-simdrive with these drives; the drives keep their state in "state/".
class Farm {
public:
    explicit Farm(const std::vector<SimDrive>& drives);
    const std::filesystem::path& dir() const { return dir_.path(); }
    std::string file(const std::string& name) const { return (dir_.path() / name).string(); }

    // Runs firmstep in the farm's directory with "-cfg firmstep.ini" appended.
    ProgramResult run(std::vector<std::string> args, const std::string& input = "") const;

    // The firmware revision a drive saved ("" when it saved nothing yet), by
    // its kind ("ata", "scsi", "nvme") and serial number.
    std::string savedRevision(const std::string& kind, const std::string& serial) const;

    // A firmware image for drives whose model starts with `prefix`; `size` is
    // the whole file's length (header included, no padding).
    void writeImage(const std::string& name, const std::string& prefix, const std::string& revision,
                    std::size_t size) const;

private:
    TempDir dir_;
};

// Writes a firmware image for drives whose model starts with `prefix`; `size`
// is the whole file's length (header included, no padding).
void WriteFirmwareImage(const std::filesystem::path& path, const std::string& prefix, const std::string& revision,
                        std::size_t size);

// The lines of `text` that contain `part`, in order.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part);

}  // namespace firmstep::test
