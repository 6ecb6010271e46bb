// cvpl-local: presents the computer the program runs on as a machine, reached
// through the "cv-local" bridge.
#include <corvane.h>

#include "local_bridge.h"

namespace {

int Load(CvUID, const StringMap*, CvError* error) { return cvpl_local::RegisterBridge(error); }

// Fails, leaving the plug-in loaded, when one of its machines cannot be destroyed.
int Unload(CvError* error) { return cvpl_local::UnregisterBridge(error); }

}  // namespace

CV_DEFINE_PLUGIN("Local Access Plugin", "Allows clients to access resources and services on the local machine",
                 "1.12.7.3", "Copyright (c) Firmstep developers", "Firmstep developers", "firmstep@localhost", Load,
                 Unload);
