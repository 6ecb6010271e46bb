// Start and stop of the OS devices plug-in over a given system seam. The
// plug-in's load entry point starts it over libudev; tests start it over a
// scripted system.
//
// On Linux: the disks are the udev block devices of type "disk" that are not
// virtual (loop, RAM, zram, device-mapper, md), optical, floppy or network
// devices, nor one controller's hidden path to a multipath NVMe namespace, and
// whose node opens for reading and writing. NVMe namespaces under their
// subsystem (native multipath) or a fabrics controller are disks, although
// the kernel places them among the virtual devices. Each is known by its
// interface path (see UdevSystem), opened by its node ("/dev/sda", both the
// system and the access path), and numbered by its device number packed as
// major << 20 | minor. The discovery thread listens to udev events of whole
// disks and reacts to "add" and "remove" as to an arrival and a removal.
#pragma once

#include <corvane.h>

#include "plugin_state.h"
#include "system_interface.h"

namespace os_devices {

// Reads the settings (null: defaults without a scan wait), starts the discovery
// thread and waits for the first enumeration as "ScanTimeout" says.
int Start(SystemInterface& system, const StringMap* settings, const Timing& timing, CvError* error);
// Stops the thread and unregisters every disk resource.
int Stop(CvError* error);

}  // namespace os_devices
