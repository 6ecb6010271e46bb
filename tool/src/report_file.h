// A file that readers see whole or not at all: the text goes to a temporary
// file in the same directory, which then takes the file's name by rename.
#pragma once

#include <string>

namespace firmstep {

class ReportFile {
public:
    ReportFile() = default;
    // Removes the temporary file when the text never replaced the file.
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Creates the temporary file next to `path`, so that a file that cannot
    // be written is known before anything is done. Returns false with the
    // reason when it cannot be made.
    bool Prepare(const std::string& path, std::string& reason);
    bool Prepared() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Writes `text` to the temporary file, flushes it to the disk and renames
    // it over the file. Returns false with the reason; the file is then left
    // as it was.
    bool Commit(const std::string& text, std::string& reason);

private:
    void Discard();

    std::string path_;
    std::string temporaryPath_;
    int fd_ = -1;
    unsigned mode_ = 0644;  // what a new file gets under the process's umask
};

}  // namespace firmstep
