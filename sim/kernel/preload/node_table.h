// The drives of a simulated kernel written down as text, one device node a
// line, so that a program can be given simulated drives before it starts:
//
//   # comment
//   /dev/sda   kind=ata; model=VT-2000 Series; serial=ATA0001; revision=VT01
//   /dev/nvme0 kind=nvme; model=VT NVMe 3000; serial=NVM0001; revision=VT01
//   /dev/sdf   same-as /dev/sda
//   /dev/sdg   [max_hw_sectors_kb=120] kind=ata; model=VT-2000; serial=ATA0002; revision=VT01
//   /dev/sdu   usb=sat; kind=ata; model=VT-2000 Series; serial=USB0001; revision=VT01
//
// The node path comes first, then the drive description as the simulator reads
// it. Between them, in brackets, the node's queue limit may be given: the
// kernel then refuses requests that move more than that many KiB. An NVMe drive's node is its controller's character device; its namespaces
// appear as "<node>n1", "<node>n2", ... (see nodePaths). "same-as" gives a
// drive of an earlier line a second node, the way a dual-ported disk shows up
// twice. "usb=<bridge>;" in front of an ATA drive's description puts it behind
// a USB bridge of that kind (see usb_bridge.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simdrive/drive_description.h"
#include "usb_bridge.h"

namespace simdrive {

struct NodeEntry {
    std::string path;
    DriveDescription description;
    std::string sameAs;  // the earlier node whose drive this one reaches; empty for a drive of its own
    uint32_t queueLimit = 0;  // bytes; 0: none
    std::optional<UsbBridge> usbBridge = std::nullopt;  // the bridge in front of the drive, if any
};

// False with `error` naming the line when a line cannot be used: no
// description, a path that is not absolute, a node option that is not
// "max_hw_sectors_kb=<KiB>", an unknown USB bridge, a path or a drive (kind and
// serial, which name its state file) given twice, a bad description, or a
// "same-as" that names no earlier drive node.
bool parseNodeTable(std::string_view text, std::vector<NodeEntry>& nodes, std::string& error);

// Every node path the drive answers on: its own, and for an NVMe controller
// the block devices of its namespaces.
std::vector<std::string> nodePaths(const NodeEntry& node);

}  // namespace simdrive
