// firmstep-server as a process: serves until SIGTERM, shuts down cleanly,
// fails on a bad configuration.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cvcrt.h"

extern char** environ;

namespace {

// The program with its standard error on a pipe.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& config) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string program = FIRMSTEP_SERVER_PATH;
        std::string flag = "-cfg";
        std::string path = config;
        char* argv[] = {program.data(), flag.data(), path.data(), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        errors_ = fdopen(fds[0], "r");
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (errors_ != nullptr) fclose(errors_);
    }

    // Reads standard error up to a line starting with prefix; the rest of that line.
    bool ReadUntil(const std::string& prefix, std::string* rest) {
        char line[2048];
        while (errors_ != nullptr && fgets(line, sizeof line, errors_) != nullptr) {
            seen_ += line;
            const std::string text(line);
            if (text.rfind(prefix, 0) == 0) {
                *rest = text.substr(prefix.size());
                return true;
            }
        }
        return false;
    }

    // Exit status after the signal (or by itself when signal is 0); -1 if not a normal exit.
    int Wait(int signal = 0) {
        if (signal != 0) kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Seen() const { return seen_; }

private:
    pid_t pid_ = -1;
    FILE* errors_ = nullptr;
    std::string seen_;
};

std::string WriteConfig(const std::string& name, const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".ini");
    std::ofstream(path) << text;
    return path.string();
}

TEST(ServerProgram, ServesUntilSigtermAndShutsDownCleanly) {
    const std::string config = WriteConfig("serving",
                                           "[Corvane]\nPlugins=cvpl-local,cvpl-tcpip\nServers=cv-tcpip\n"
                                           "[cv-tcpip]\nServerPort=0\nBroadcastPort=0\n");
    ServerProcess server(config);
    std::string port;
    ASSERT_TRUE(server.ReadUntil("INFO: Server listening on port ", &port)) << server.Seen();

    ASSERT_EQ(CrtInitialize(), 0);
    const int32_t client = SocketCreate(SOCKET_KIND_STREAM);
    InetAddress address{};
    InetIpStringToNum("127.0.0.1", &address.address);
    address.port = htons(static_cast<uint16_t>(std::stoi(port)));
    ASSERT_EQ(SocketConnect(client, address), 0);
    const uint8_t version[2] = {0x00, 0x01};
    uint8_t answer = 0;
    ASSERT_EQ(SocketSendAll(client, version, 2), 2);
    ASSERT_EQ(SocketRecvAll(client, &answer, 1), 1);
    EXPECT_EQ(answer, 0x01);
    std::string rest;
    ASSERT_TRUE(server.ReadUntil("INFO: Client 127.0.0.1 connected", &rest));

    // Shutting down tells the connected client goodbye.
    EXPECT_EQ(server.Wait(SIGTERM), 0) << server.Seen();
    uint8_t header[12] = {};
    EXPECT_EQ(SocketRecvAll(client, header, 12), 12);
    EXPECT_EQ(header[0], 0x43);
    EXPECT_EQ(header[2], 0x00);  // disconnect
    SocketDestroy(client);
    CrtUninitialize();
    std::filesystem::remove(config);
}

TEST(ServerProgram, ExitsNonZeroWhenConfigurationFails) {
    const std::string config = WriteConfig("failing", "[Corvane]\nPlugins=cvpl-no-such-plugin\n");
    ServerProcess server(config);
    std::string message;
    ASSERT_TRUE(server.ReadUntil("ERROR: Configuration from '", &message)) << server.Seen();
    EXPECT_EQ(server.Wait(), 1);
    std::filesystem::remove(config);

    ServerProcess missing("/nonexistent/firmstep-server.ini");
    EXPECT_EQ(missing.Wait(), 1);
}

}  // namespace
