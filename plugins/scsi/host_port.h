// The host-port library's command functions, bound at load when the library
// is on the machine.
#pragma once

#include "hostport/hostport_api.h"

namespace scsi_plugin {

struct HostPort {
    LsiScsiIoFunction scsiIo = nullptr;
    LsiScsiTaskManagementFunction taskManagement = nullptr;
    LsiSendSasPrimitiveFunction sendPrimitive = nullptr;
    bool bound() const { return scsiIo != nullptr && taskManagement != nullptr && sendPrimitive != nullptr; }
};

// Opens the library and looks up its functions; an unbound table without it.
HostPort bindHostPort();
void releaseHostPort();

}  // namespace scsi_plugin
