// The allocator every module uses for memory that crosses a module boundary, so
// that it is always released by the allocator that gave it out.
#include <corvane.h>

#include <cstdlib>
#include <cstring>

void* CvAlloc(int32_t size)
{
    if (size < 0) return nullptr;
    // At least one byte, so that a zero size still yields a pointer to free.
    return std::calloc(size > 0 ? static_cast<std::size_t>(size) : 1u, 1u);
}

void* CvAllocWithoutClear(int32_t size)
{
    if (size < 0) return nullptr;
    return std::malloc(size > 0 ? static_cast<std::size_t>(size) : 1u);
}

char* CvStrDup(const char* text)
{
    if (text == nullptr) return nullptr;
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

void CvFree(void* memory) { std::free(memory); }
