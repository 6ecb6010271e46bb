// Owning handles for the string maps in tests.
#pragma once

#include <memory>

#include "cvcrt.h"

struct StringMapDeleter {
    void operator()(StringMap* map) const { StringMap_Destroy(map); }
};
using StringMapPtr = std::unique_ptr<StringMap, StringMapDeleter>;

struct ConfigDeleter {
    void operator()(Config* map) const { ConfigDestroy(map); }
};
using ConfigPtr = std::unique_ptr<Config, ConfigDeleter>;
