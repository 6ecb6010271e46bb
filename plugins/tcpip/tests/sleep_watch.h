// The test program provides CrtSleepMicro itself (the framework and the bridge
// bind to the program's definition) and records which threads slept, so a test
// can tell that a caller is polling, without sleeping itself.
#pragma once

#include <thread>
#include <vector>

namespace tcpip_bridge_test {

// Blocks until one of the threads has slept (polled) at least once.
void WaitForSleepOnAny(const std::vector<std::thread::id>& threads);

}  // namespace tcpip_bridge_test
