// The kernel check made before cvpl-ata loads.
#include "os_gate.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

namespace ata_plugin {

bool kernelSupportsPassThrough(const char* sysname, const char* release) {
    if (sysname == nullptr || release == nullptr || std::strcmp(sysname, "Linux") != 0) return false;
    int major = 0, minor = 0, patch = 0;
    int fields = std::sscanf(release, "%d.%d.%d", &major, &minor, &patch);
    if (fields < 2) return false;
    if (major != 2) return major > 2;
    if (minor != 6) return minor > 6;
    return fields == 3 && patch >= 18;
}

int checkOperatingSystem(CvError* error) {
    utsname name{};
    if (::uname(&name) != 0) return CvSetError(error, CV_ERROR_FAILED, "Unable to get the OS version");
    if (!kernelSupportsPassThrough(name.sysname, name.release)) {
        return CvSetError(error, CV_ERROR_FAILED, "This plugin only works on Linux 2.6.18 or later kernels");
    }
    return CvSetNoError(error);
}

}  // namespace ata_plugin
