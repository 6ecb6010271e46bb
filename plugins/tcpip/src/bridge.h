// The remote machine bridge ("cv-tcpip"): machines that are other computers,
// reached through the remote access server running there.
#pragma once

#include <corvane.h>

namespace cvpl_tcpip {

// Empties the bridge's machine list and registers the bridge (plug-in load);
// 1, or 0 with the error filled.
int RegisterBridge(CvError* error);
// Unregisters the bridge, which destroys its machines first, oldest first
// (plug-in unload). Nothing to do when it is not registered. On failure the
// bridge stays registered.
int UnregisterBridge(CvError* error);

}  // namespace cvpl_tcpip
