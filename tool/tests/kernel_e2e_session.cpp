#include "kernel_e2e_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace firmstep::test {

namespace {

constexpr int kSilenceLimitMs = 60000;

}  // namespace

TerminalSession::TerminalSession(const std::vector<std::string>& args, const std::filesystem::path& directory,
                                 const Environment& environment)
{
    // Everything the child needs is made before fork, so it only calls async-signal-safe functions.
    std::vector<std::string> commandLine = ProgramCommandLine(args);
    std::vector<std::string> variables = EnvironmentWith(environment);
    const std::vector<char*> argv = ExecPointers(commandLine);
    const std::vector<char*> envp = ExecPointers(variables);

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("cannot open a pseudo-terminal");
    const int slave = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave < 0)
        throw std::runtime_error("cannot open the pseudo-terminal's slave side");
    // Raw: no echo of the typed lines and no "\r\n" for "\n" in the output.
    termios mode{};
    ::tcgetattr(slave, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);

    child_ = ::fork();
    if (child_ == 0) {
        if (::dup2(slave, STDIN_FILENO) < 0 || ::dup2(slave, STDOUT_FILENO) < 0 || ::chdir(directory.c_str()) != 0)
            ::_exit(126);
        ::close(slave);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(slave);
    if (child_ < 0)
        throw std::runtime_error("cannot start the program");
}

TerminalSession::~TerminalSession()
{
    if (child_ > 0) {
        // A test that gave up early: end the program it started.
        ::kill(child_, SIGKILL);
        while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (master_ >= 0)
        ::close(master_);
}

bool TerminalSession::readMore()
{
    pollfd ready{master_, POLLIN, 0};
    int polled;
    while ((polled = ::poll(&ready, 1, kSilenceLimitMs)) < 0 && errno == EINTR) {
    }
    if (polled <= 0) {
        silent_ = polled == 0;
        return false;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(master_, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    // The master reads EIO once the program has closed the terminal.
    if (got <= 0)
        return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool TerminalSession::waitFor(const std::string& text)
{
    while (output_.find(text) == std::string::npos) {
        if (!readMore())
            return false;
    }
    return true;
}

void TerminalSession::type(const std::string& line)
{
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = ::write(master_, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        written += static_cast<std::size_t>(put);
    }
}

ProgramResult TerminalSession::finish()
{
    while (readMore()) {
    }
    // A program that fell silent without closing its terminal will not finish by itself.
    if (silent_)
        ::kill(child_, SIGKILL);
    int waitStatus = 0;
    pid_t ended;
    while ((ended = ::waitpid(child_, &waitStatus, 0)) < 0 && errno == EINTR) {
    }
    child_ = -1;
    ProgramResult result;
    result.status = ended > 0 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    result.output = output_;
    return result;
}

}  // namespace firmstep::test
