#include "report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace firmstep {
namespace {

std::string SystemReason(int error)
{
    return std::strerror(error);
}

// The process's file creation mask. Read by setting it, so only called while
// the process has a single thread (right after the command line is parsed).
unsigned CurrentUmask()
{
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return mask;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::filesystem::path DirectoryOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Makes the rename itself durable; a directory that cannot be synced changes
// nothing for readers, so failures are ignored.
void SyncDirectory(const std::filesystem::path& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ReportFile::~ReportFile()
{
    Discard();
}

void ReportFile::Discard()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    ::unlink(temporaryPath_.c_str());
    fd_ = -1;
}

bool ReportFile::Prepare(const std::string& path, std::string& reason)
{
    Discard();
    const std::filesystem::path target(path);
    if (target.filename().empty()) {
        reason = "it names a directory";
        return false;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(target, ignored)) {
        reason = "it is a directory";
        return false;
    }
    const std::string pattern = (DirectoryOf(target) / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    path_ = path;
    temporaryPath_ = name.data();
    fd_ = fd;
    mode_ = 0666u & ~CurrentUmask();
    return true;
}

bool ReportFile::Commit(const std::string& text, std::string& reason)
{
    if (fd_ < 0) {
        reason = "no temporary file";
        return false;
    }
    // mkstemp makes the file readable by its owner only; the report gets the
    // mode any new file of the process would get.
    if (!WriteAll(fd_, text) || ::fchmod(fd_, mode_) != 0 || ::fsync(fd_) != 0) {
        reason = SystemReason(errno);
        Discard();
        return false;
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 || ::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        reason = SystemReason(errno);
        ::unlink(temporaryPath_.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(path_));
    return true;
}

}  // namespace firmstep
