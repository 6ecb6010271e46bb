// A firmware image read whole from its file, once per drive, and handed to the
// download commands segment by segment without further copies.
#pragma once

#include <corvane.h>

#include <cstdint>
#include <span>
#include <vector>

namespace firmstep {

struct FirmwareImage {
    // The file's bytes, zero-filled up to a multiple of 4: NVMe counts the
    // image in 32-bit words.
    std::vector<std::uint8_t> bytes;
    // The file's own size, before the padding.
    std::uint64_t fileSize = 0;

    bool Empty() const { return bytes.empty(); }
    std::uint32_t Length() const { return static_cast<std::uint32_t>(bytes.size()); }
    std::span<std::uint8_t> Data() { return bytes; }
};

// Reads the whole file into `image`. On failure returns false with `error` set
// to code 2 and the reason (missing or empty file, no memory, cannot open, the
// file grew or shrank while it was read); `image` is then empty.
bool LoadFirmwareImage(const char* path, FirmwareImage& image, CvError& error);

}  // namespace firmstep
