// Feeds arbitrary bytes to the INI parser through an in-memory file and checks
// that whatever it returns is consistent: on success one map per section name,
// on failure empty lists and a code-2 message.
#include <corvane.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "memory_file.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const MemoryFile file(data, size);
    if (!file.ok()) return 0;

    ArrayList* names = ArrayList_Create();
    ArrayList* maps = ArrayList_Create();
    CvError error;
    const int ok = CvUtil_ParseINI(file.path(), names, maps, &error);
    Check(ArrayList_GetSize(names) == ArrayList_GetSize(maps));
    Check(std::memchr(error.message, '\0', sizeof error.message) != nullptr);
    if (ok) {
        for (int32_t i = 0; i < ArrayList_GetSize(names); ++i) {
            const auto* name = static_cast<const char*>(ArrayList_Get(names, i));
            Check(name != nullptr && name[0] != '\0' && name[0] != ' ');
            auto* map = static_cast<StringMap*>(ArrayList_Get(maps, i));
            for (int32_t k = 0; k < StringMap_GetSize(map); ++k) Check(StringMap_GetEntryKey(map, k)[0] != '\0');
            StringMap_Destroy(map);
        }
    } else {
        Check(ArrayList_GetSize(names) == 0 && error.code == CV_ERROR_FAILED);
    }
    CvUtil_DestroyListAndData(names);
    ArrayList_Destroy(maps);
    return 0;
}
