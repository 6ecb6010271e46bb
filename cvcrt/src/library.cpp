// Dynamic libraries through dlopen. Each library keeps its symbols to itself
// (RTLD_LOCAL) and is bound completely at load time (RTLD_NOW), so a missing
// dependency fails the load instead of a later call.
#include <dlfcn.h>

#include <cstdio>

#include "cvcrt/runtime.h"

void* LibraryLoad(const char* fileName) {
    // dlopen(NULL) would hand back the main program.
    if (!fileName || !*fileName) return nullptr;
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

int LibraryUnload(void* library) { return library && dlclose(library) == 0 ? 1 : 0; }

void* LibraryFindSymbol(void* library, const char* name) {
    // A null handle would mean RTLD_DEFAULT, a search of the whole process.
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

int LibraryNormalizeName(const char* baseName, char* buffer, size_t bufferLength) {
    if (!baseName) return -1;
    if (!buffer) bufferLength = 0;
    return std::snprintf(buffer, bufferLength, "%s.so", baseName);
}
