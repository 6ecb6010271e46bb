// cvpl-tcpip: the remote machine bridge ("cv-tcpip" machines) and the remote
// access server that answers such bridges elsewhere.
#include <corvane.h>

#include "bridge.h"
#include "server.h"

namespace {

int Load(CvUID, const StringMap*, CvError* error) {
    if (!cvpl_tcpip::RegisterBridge(error)) return 0;
    if (!cvpl_tcpip::RegisterServer(error)) {
        CvError ignored{};
        cvpl_tcpip::UnregisterBridge(&ignored);
        return 0;
    }
    return 1;
}

// Stops at the first failure, leaving the plug-in loaded.
int Unload(CvError* error) {
    if (!cvpl_tcpip::UnregisterBridge(error)) return 0;
    return cvpl_tcpip::UnregisterServer(error);
}

}  // namespace

CV_DEFINE_PLUGIN("Tcpip Remote Access Plugin",
                 "Allows clients to access resources and services on a remote machine over a TCP/IP network",
                 "1.12.4.0", "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost", Load,
                 Unload);
