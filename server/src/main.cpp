// firmstep-server: keeps a framework running so that remote clients (firmstep
// with a "cv-tcpip://host:port" connection) can reach this computer's drives.
//
//   firmstep-server [-cfg <file>]     default: firmstep-server.ini
//
// The INI file names the plug-ins, connections and servers as for firmstep;
// typically cvpl-local, the device plug-ins and cvpl-tcpip, with
// Servers=cv-tcpip. Framework log lines go to standard error. SIGINT or SIGTERM
// shuts the framework down. Exit status 0 after a clean shut-down, 1 when the
// configuration fails, 2 on a usage error.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <corvane.h>

namespace {

constexpr const char* kDefaultConfig = "firmstep-server.ini";

const char* LevelName(int level) {
    static constexpr const char* kNames[] = {"FATAL", "ERROR", "WARNING", "INFO", "DEBUG"};
    return level >= 0 && level < 5 ? kNames[level] : "???";
}

extern "C" void PrintLogLine(void*, int level, const char* message) {
    fprintf(stderr, "%s: %s\n", LevelName(level), message != nullptr ? message : "");
    fflush(stderr);
}

CvLogListener g_logListener = {nullptr, &PrintLogLine};

bool ParseArguments(int argc, char** argv, std::string* config) {
    *config = kDefaultConfig;
    for (int i = 1; i < argc; ++i) {
        if ((strcmp(argv[i], "-cfg") == 0 || strcmp(argv[i], "--config") == 0) && i + 1 < argc) {
            *config = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string config;
    if (!ParseArguments(argc, argv, &config)) {
        fprintf(stderr, "usage: %s [-cfg <file>]\n", argv[0]);
        return 2;
    }

    // Blocked before any thread starts, so every framework thread inherits the
    // mask and the signals wait for sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CvInitialize();
    CvLogEventManager_AddListener(&g_logListener);

    CvError error{};
    int status = 0;
    if (!CvHelper_ConfigureUsingINIFile(config.c_str(), &error)) {
        fprintf(stderr, "ERROR: Configuration from '%s' failed: %s\n", config.c_str(), error.message);
        status = 1;
    } else {
        fprintf(stderr, "INFO: Serving; stop with SIGINT or SIGTERM\n");
        int received = 0;
        sigwait(&stopSignals, &received);
        fprintf(stderr, "INFO: %s received, shutting down\n", received == SIGINT ? "SIGINT" : "SIGTERM");
    }

    if (!CvUninitialize(&error)) {
        fprintf(stderr, "ERROR: Shut-down failed: %s\n", error.message);
        if (status == 0) status = 1;
    }
    return status;
}
