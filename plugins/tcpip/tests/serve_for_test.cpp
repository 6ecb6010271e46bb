// A server process for end-to-end tests: configures the framework from the INI
// file named by its argument, starts the remote access server on an ephemeral
// port, prints that port on a line of its own, and serves until its standard
// input is closed.
#include <corvane.h>
#include <unistd.h>

#include <cstdio>

#include "server.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <ini file>\n", argv[0]);
        return 2;
    }
    CvInitialize();
    CvError error{};
    CvUID server = CV_UID_NONE;
    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "ServerPort", "0");
    StringMap_SetValue(settings, "BroadcastPort", "0");
    const int started = CvHelper_ConfigureUsingINIFile(argv[1], &error) && cvpl_tcpip::RegisterServer(&error) &&
                        CvServerManager_LookupServer("cv-tcpip", &server, &error) &&
                        CvServer_Start(server, settings, &error);
    StringMap_Destroy(settings);
    if (!started) {
        std::fprintf(stderr, "server: %s\n", error.message);
        CvUninitialize(&error);
        return 1;
    }
    std::printf("%d\n", cvpl_tcpip::ServerListeningPort());
    std::fflush(stdout);

    char ignored[64];
    while (read(STDIN_FILENO, ignored, sizeof ignored) > 0) {}
    const int stopped = cvpl_tcpip::UnregisterServer(&error) && CvUninitialize(&error);
    if (!stopped) std::fprintf(stderr, "server: %s\n", error.message);
    return stopped ? 0 : 1;
}
