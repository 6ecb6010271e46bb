// The check cvpl-ata makes at load: the kernel must be Linux with libata's SAT
// ATA PASS-THROUGH over SG_IO on block devices (2.6.18 and later).
#pragma once

#include <corvane.h>

namespace ata_plugin {

// True for sysname "Linux" and a release of 2.6.18 or later.
bool kernelSupportsPassThrough(const char* sysname, const char* release);

// 1, or 0 with code 2 and the reason.
int checkOperatingSystem(CvError* error);

}  // namespace ata_plugin
