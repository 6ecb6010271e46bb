// The simulated CSMI adapters for a whole program: preloaded into it, this
// library puts the simulated kernel behind the seam of every plug-in the
// program loads, with the adapters of the controller farm named by
// SIM_CSMI_FARM (csmi_farm.h) on /dev/csmi<N>. Problems are written to
// standard error and leave the kernel without adapters; the real kernel is
// never reached.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "csmi_farm.h"
#include "sim_kernel.h"

namespace {

void populate() {
    const char* path = std::getenv("SIM_CSMI_FARM");
    if (path == nullptr || *path == '\0') {
        std::fprintf(stderr, "simulated CSMI driver: SIM_CSMI_FARM is not set: no adapters\n");
        return;
    }
    // The drives live as long as the program; the kernel holds the adapters.
    static simdrive::ControllerFarm farm;
    std::string error;
    if (!farm.load(path, error) || !simdrive::addCsmiAdapters(farm, error))
        std::fprintf(stderr, "simulated CSMI driver: %s\n", error.c_str());
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const KernelIoOps* KernelIo_TestProvider(void) {
    static std::once_flag once;
    std::call_once(once, populate);
    return simdrive::SimKernel::ops();
}
