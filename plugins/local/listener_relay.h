// The listeners a local machine gives the framework's event managers in place
// of its client's: they forward to whichever listener the client has set, and
// only while the machine is connected.
#pragma once

#include <mutex>

namespace cvpl_local {

struct LocalMachine;

// Points the machine's two relay records at the forwarding functions.
void PrepareRelays(LocalMachine& machine);

// Waits, with `lock` (on the machine's mutex) released meanwhile, until no other
// thread is inside `listener` through this machine, so that the caller may hand
// back or forget the listener it just replaced or detached. A thread that is
// itself inside one of the machine's listeners does not wait: two of them
// changing the same machine would otherwise wait for each other.
void WaitForOtherDeliveries(LocalMachine& machine, std::unique_lock<std::mutex>& lock, const void* listener);

}  // namespace cvpl_local
