// The drives of a simulated kernel written down as text, one device node a
// line, so that a program can be given simulated drives before it starts:
//
//   # comment
//   /dev/sda   kind=ata; model=VT-2000 Series; serial=ATA0001; revision=VT01
//   /dev/nvme0 kind=nvme; model=VT NVMe 3000; serial=NVM0001; revision=VT01
//
// The node path comes first, then the drive description as the simulator reads
// it. An NVMe drive's node is its controller's character device; its namespaces
// appear as "<node>n1", "<node>n2", ... (see nodePaths).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "simdrive/drive_description.h"

namespace simdrive {

struct NodeEntry {
    std::string path;
    DriveDescription description;
};

// False with `error` naming the line when a line cannot be used: no
// description, a path that is not absolute, a path or a drive (kind and
// serial, which name its state file) given twice, or a bad description.
bool parseNodeTable(std::string_view text, std::vector<NodeEntry>& nodes, std::string& error);

// Every node path the drive answers on: its own, and for an NVMe controller
// the block devices of its namespaces.
std::vector<std::string> nodePaths(const NodeEntry& node);

}  // namespace simdrive
