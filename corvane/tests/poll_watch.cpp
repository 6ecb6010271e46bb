#include "poll_watch.h"

#include <corvane.h>

#include <chrono>
#include <thread>

namespace corvane_test {

PollWatch& Polls()
{
    static PollWatch polls;
    return polls;
}

}  // namespace corvane_test

// Replaces the runtime's sleep for the whole test program (the framework's
// calls bind to the program's definition).
extern "C" void CrtSleepMicro(int64_t microseconds)
{
    corvane_test::Polls().poll();
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}
