// An owning handle for cvcrt string maps.
#pragma once

#include <memory>

#include <cvcrt.h>

namespace simdrive {

struct StringMapDeleter {
    void operator()(StringMap* map) const { StringMap_Destroy(map); }
};
using StringMapPtr = std::unique_ptr<StringMap, StringMapDeleter>;

}  // namespace simdrive
