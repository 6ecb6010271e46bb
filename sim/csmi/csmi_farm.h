// Simulated CSMI adapters described in a controller farm (controller_farm.h):
//
//   Adapters=0,1                 the adapter numbers; adapter N answers on /dev/csmi<N>
//   Phys.0=0:vt-sata1, 1:vt-sas1:255, 2:expander, 3:empty
//
// Each phy is "<phy>:<what is attached>[:<port>]": a drive of the farm (an ATA
// drive is a SATA target, a SCSI drive an SSP target), "expander" (an edge
// expander, no end device) or "empty". The port is the phy's own number
// unless given; 255 stands for a port the driver does not know. A drive's SAS
// address is its WWN, or one made from the adapter and phy numbers.
#pragma once

#include <string>

#include "controller_farm.h"

namespace simdrive {

inline constexpr const char* kCsmiNodePattern = "/dev/csmi";

// Puts the farm's adapters on the simulated kernel; false with a message.
bool addCsmiAdapters(const ControllerFarm& farm, std::string& error);

}  // namespace simdrive
