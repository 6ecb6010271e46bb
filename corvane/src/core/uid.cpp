// The one identifier sequence shared by every kind of framework entity.
#include <corvane.h>

#include <atomic>

namespace {

// Starts at 0 when the library is loaded; CvUninitialize does not reset it.
constinit std::atomic<CvUID> g_nextUid{0};

}  // namespace

CvUID CvNextUID(void)
{
    CvUID uid = g_nextUid.fetch_add(1, std::memory_order_relaxed);
    // CV_UID_NONE means "no identifier", so the sequence steps over it when it
    // wraps: the value after 0xFFFFFFFE is 0.
    if (uid == CV_UID_NONE) uid = g_nextUid.fetch_add(1, std::memory_order_relaxed);
    return uid;
}
