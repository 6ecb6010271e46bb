// What every bus entry point of a simulated drive reports besides the drive's
// own answer.
#pragma once

#include <chrono>
#include <functional>

namespace simdrive {

enum class DriveKind { Ata, Scsi, Nvme };

const char* driveKindName(DriveKind kind);

// Completed: the command reached the drive; its verdict (registers, status and
// sense, completion status) is in the reply. DeviceGone: the drive has been
// pulled and nothing reached it.
enum class BusResult { Completed, DeviceGone };

// How a drive waits out an injected per-command delay; tests substitute a recorder.
using Sleeper = std::function<void(std::chrono::milliseconds)>;

}  // namespace simdrive
