#include "run_state.h"

namespace firmstep {

const char* OperationWord(std::uint32_t flags)
{
    const bool deferred = (flags & kFlagDeferredDownload) != 0;
    const bool activate = (flags & kFlagActivate) != 0;
    if (deferred && activate)
        return "downloaded and activated";
    if (activate)
        return "activated";
    return "downloaded";
}

}  // namespace firmstep
