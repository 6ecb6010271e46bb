// Exit statuses of firmstep.
#pragma once

namespace firmstep {

inline constexpr int kExitSuccess = 0;            // also help, nothing selected, "-list", no VT drive
inline constexpr int kExitCommandLineError = 1;
inline constexpr int kExitTransferLength = 2;     // "-cs" not a multiple of 512 with an ATA drive
inline constexpr int kExitModelFile = 3;
inline constexpr int kExitConfiguration = 4;
inline constexpr int kExitMachineList = 5;
inline constexpr int kExitSomeDrivesFailed = 100;  // and some succeeded
inline constexpr int kExitAllDrivesFailed = 127;

}  // namespace firmstep
