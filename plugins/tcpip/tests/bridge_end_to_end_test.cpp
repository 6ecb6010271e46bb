// End to end over loopback: a server process serves the drive simulator's
// farm through the remote access server, and firmstep in another process
// lists, downloads and activates firmware on every drive kind through a
// "cv-tcpip" machine. Its output must equal that of the same runs against the
// same farm on a "cv-local" machine.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string BuildDir()
{
    const char* build = std::getenv("FIRMSTEP_BUILD_DIR");
    return build != nullptr ? build : ".";
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The demo farm's configuration with its [Corvane] section replaced.
std::string FarmIni(const std::string& corvaneSection)
{
    std::istringstream demo(ReadFile(DEMO_INI_FILE));
    std::string result = corvaneSection;
    std::string line;
    bool inCorvane = false;
    while (std::getline(demo, line)) {
        if (!line.empty() && line[0] == '[') inCorvane = line == "[Corvane]";
        if (!inCorvane) result += line + "\n";
    }
    return result;
}

// The server process: started in its own directory, it reports its port on
// its first output line and ends when its standard input closes.
class ServerProcess {
public:
    explicit ServerProcess(const fs::path& directory)
    {
        int input[2];
        int output[2];
        if (pipe(input) != 0 || pipe(output) != 0) return;
        const std::string program = BuildDir() + "/tests/tcpip_serve_for_test";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], STDIN_FILENO);
            dup2(output[1], STDOUT_FILENO);
            close(input[1]);
            close(output[0]);
            if (chdir(directory.c_str()) != 0) _exit(127);
            execl(program.c_str(), program.c_str(), "server.ini", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        stdin_ = input[1];
        std::string line;
        char c = 0;
        while (read(output[0], &c, 1) == 1 && c != '\n') line += c;
        close(output[0]);
        port_ = std::atoi(line.c_str());
    }
    ~ServerProcess() { stop(); }

    int port() const { return port_; }
    // Closes its input and returns its exit status.
    int stop()
    {
        if (pid_ <= 0) return -1;
        close(stdin_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

// Runs firmstep in the directory with the arguments; its output and status.
std::string Firmstep(const fs::path& directory, const std::string& arguments, int* status)
{
    const std::string command =
        "cd '" + directory.string() + "' && '" + BuildDir() + "/bin/firmstep' -cfg firmstep.ini " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> chunk;
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) output.append(chunk.data(), got);
    const int result = pclose(pipe);
    *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/tcpip-e2e-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        root = name;
        fs::create_directories(root / "local");
        fs::create_directories(root / "remote");
        fs::create_directories(root / "server");
    }
    void TearDown() override { fs::remove_all(root); }

    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

    fs::path root;
};

TEST_F(EndToEndTest, FirmstepUpdatesRemoteDrivesAsItDoesLocalOnes)
{
    ASSERT_NE(std::string::npos, FarmIni("").find("[cvpl-simdrive]")) << "cannot read " << DEMO_INI_FILE;
    Write(root / "local/firmstep.ini",
          FarmIni("[Corvane]\nPlugins=cvpl-local,cvpl-simdrive\nConnections=cv-local://localhost\n\n"));
    Write(root / "server/server.ini", FarmIni("[Corvane]\nPlugins=cvpl-simdrive\n\n"));
    ServerProcess server(root / "server");
    ASSERT_GT(server.port(), 0);
    Write(root / "remote/firmstep.ini",
          "[Corvane]\nPlugins=cvpl-tcpip\nConnections=cv-tcpip://127.0.0.1:" + std::to_string(server.port()) + "\n");

    const std::string image = "'" + BuildDir() + "/examples/demo-fw.bin'";
    const std::vector<std::string> runs = {
        "-list",
        image + " -batch_mode -dev 0-2",
        image + " -batch_mode -dev 3 -flags 6 -nvme_slot 2 -nvme_ca 1",
        "-list",
    };
    for (const std::string& arguments : runs) {
        int localStatus = -1;
        int remoteStatus = -1;
        const std::string local = Firmstep(root / "local", arguments, &localStatus);
        const std::string remote = Firmstep(root / "remote", arguments, &remoteStatus);
        EXPECT_EQ(0, localStatus) << arguments << "\n" << local;
        EXPECT_EQ(localStatus, remoteStatus) << arguments;
        EXPECT_EQ(local, remote) << arguments;
        EXPECT_NE(std::string::npos, remote.find("Number of VT drives found = 4")) << remote;
    }
    // The last listing shows the new revision on every VT drive.
    int status = -1;
    const std::string listing = Firmstep(root / "remote", "-list", &status);
    EXPECT_EQ(std::string::npos, listing.find("VT01")) << listing;
    EXPECT_EQ(4u, [&] {
        std::size_t count = 0;
        for (std::size_t at = listing.find("VT02"); at != std::string::npos; at = listing.find("VT02", at + 1)) ++count;
        return count;
    }()) << listing;
    EXPECT_EQ(0, server.stop());
}

}  // namespace
