// Drive selection as the command line and the run driver reach it.
#include "selection_hooks.h"

#include "model_strings.h"
#include "selection.h"

namespace firmstep {

SelectionOutcome ApplyDeviceListSelection(const char* text, RunState& state)
{
    return ParseSelectionText(text, state.drives, state.explicitSelection);
}

int ReadModelStringFile(const char* path)
{
    return ReadModelStringFileInto(path, RunModelTable());
}

}  // namespace firmstep
