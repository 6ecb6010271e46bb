// Placeholders until drive selection is in place: a device list proceeds without
// marking anything, and no model-string entry is ever read.
#include "selection_hooks.h"

namespace firmstep {

SelectionOutcome ApplyDeviceListSelection(const char* /*text*/, RunState& /*state*/)
{
    return SelectionOutcome::Proceed;
}

int ReadModelStringFile(const char* /*path*/)
{
    return 0;
}

}  // namespace firmstep
