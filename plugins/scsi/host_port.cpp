// Binding the host-port library.
#include "host_port.h"

#include <dlfcn.h>

#include <corvane.h>

namespace scsi_plugin {

namespace {
void* g_library = nullptr;
}

HostPort bindHostPort() {
    HostPort port;
    if (g_library == nullptr) g_library = ::dlopen(HOSTPORT_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
    if (g_library == nullptr) {
        CvLog(CV_LOG_DEBUG, "Host-port library '%s' not present: no MPT path", HOSTPORT_LIBRARY_NAME);
        return port;
    }
    port.scsiIo = reinterpret_cast<LsiScsiIoFunction>(::dlsym(g_library, "lsiScsiIo"));
    port.taskManagement = reinterpret_cast<LsiScsiTaskManagementFunction>(::dlsym(g_library, "lsiScsiTaskManagement"));
    port.sendPrimitive = reinterpret_cast<LsiSendSasPrimitiveFunction>(::dlsym(g_library, "lsiSendSasPrimitive"));
    if (!port.bound()) {
        CvLog(CV_LOG_WARNING, "Host-port library '%s' lacks the MPT functions: no MPT path", HOSTPORT_LIBRARY_NAME);
        releaseHostPort();
        return HostPort{};
    }
    return port;
}

void releaseHostPort() {
    if (g_library != nullptr) ::dlclose(g_library);
    g_library = nullptr;
}

}  // namespace scsi_plugin
