// The client UID is the one thing the local managers receive from the bridge
// that no service sees. This test program defines the manager calls that take
// it itself (the plug-in's calls bind to the program's definitions), notes the
// client UID and passes the call on to the framework's own function.
#pragma once

#include <corvane.h>

#include <functional>
#include <string>
#include <vector>

namespace cvpl_local_test {

struct ClientCall {
    std::string function;  // "resource execute", "machine abort", ...
    CvUID client;
    bool operator==(const ClientCall&) const = default;
};

std::vector<ClientCall> ClientCalls();
void ClearClientCalls();

// Runs `hook` (once, on the calling thread) the next time the plug-in removes a
// hot-plug listener, before the framework is asked to; so a test can tell that
// a thread has reached that call.
void BeforeNextHotplugListenerRemoval(std::function<void()> hook);

}  // namespace cvpl_local_test
