// Points where drive selection joins the command line and the run driver.
// The device-list parser and the model-string reader implement them.
#pragma once

#include "run_state.h"

namespace firmstep {

enum class SelectionOutcome { Proceed, NothingSelected };

// Applies the value of "-dev" while the command line is parsed, before any
// drive is discovered: sets the selection marks it names. NothingSelected ends
// the run with status 0.
SelectionOutcome ApplyDeviceListSelection(const char* text, RunState& state);

// Reads the model-string file into the model table. Returns the number of valid
// entries, or -1 when the file cannot be opened (the reader reports that itself).
int ReadModelStringFile(const char* path);

}  // namespace firmstep
