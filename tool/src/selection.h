// Choosing the drives a run acts on: the selection text of "-dev" and of the
// prompt, and the prompt itself.
#pragma once

#include "drive_table.h"
#include "run_state.h"

#include <cstdio>

namespace firmstep {

// NothingSelected ends the run with status 0.
enum class SelectionOutcome { Proceed, NothingSelected };

// Longest line the prompt reads.
inline constexpr int kSelectionLineMax = 512;

// Interprets a selection text: the value of "-dev", applied while the command
// line is parsed (before any drive is discovered), or the line typed at the
// prompt. Null, empty, "n..."/"N..." or a text that starts
// with a line end selects nothing. "all..."/"ALL..." proceeds with every drive
// and marks none. Anything else sets `explicitSelection` and marks the drive
// numbers and ranges it names (below kDriveTableCapacity); it proceeds even
// when it marked nothing.
SelectionOutcome ParseSelectionText(const char* text, DriveTable& table, bool& explicitSelection);

// Prints the question for the run's operation, reads one line from `input` and
// applies it. The end of input selects nothing.
SelectionOutcome PromptForSelection(RunState& state, std::FILE* input);

}  // namespace firmstep
