// The bridge for the "cv-local" protocol: machines that are this computer.
#pragma once

#include <corvane.h>

namespace cvpl_local {

// Empties the machine list and registers the bridge.
int RegisterBridge(CvError* error);
// Unregisters the bridge, which destroys its machines first (oldest first).
// On failure the bridge stays registered.
int UnregisterBridge(CvError* error);

}  // namespace cvpl_local
