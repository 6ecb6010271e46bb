#include "firmware_image.h"

#include "file_handle.h"

#include <cstdio>
#include <new>

#include <sys/stat.h>

namespace firmstep {
namespace {

// The largest image whose padded length still fits the 32-bit lengths of the
// download commands.
constexpr std::uint64_t kLargestImage = 0xFFFFFFFCull;

// Leaves the image empty after a failed read; the caller has set the error.
bool Fail(FirmwareImage& image)
{
    image.bytes.clear();
    image.bytes.shrink_to_fit();
    image.fileSize = 0;
    return false;
}

}  // namespace

bool LoadFirmwareImage(const char* path, FirmwareImage& image, CvError& error)
{
    struct stat info {};
    if (::stat(path, &info) != 0 || info.st_size <= 0) {
        CvSetError(&error, CV_ERROR_FAILED, "Cannot find firmware file '%s'", path);
        return Fail(image);
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    bool allocated = size <= kLargestImage;
    if (allocated) {
        try {
            image.bytes.assign((size + 3) & ~std::uint64_t{3}, 0);
        } catch (const std::bad_alloc&) {
            allocated = false;
        }
    }
    if (!allocated) {
        CvSetError(&error, CV_ERROR_FAILED, "Insufficent memory to read file '%s'", path);
        return Fail(image);
    }

    const FileHandle file(std::fopen(path, "rb"));
    if (!file) {
        CvSetError(&error, CV_ERROR_FAILED, "Cannot open firmware file '%s'", path);
        return Fail(image);
    }
    const std::size_t read = std::fread(image.bytes.data(), 1, size, file.get());
    if (read == size && std::fgetc(file.get()) != EOF) {
        CvSetError(&error, CV_ERROR_FAILED, "Cannot load entire firmware file '%s'", path);
        return Fail(image);
    }
    if (read < size) {
        CvSetError(&error, CV_ERROR_FAILED, "Firmware download failed; firmware file '%s' is empty", path);
        return Fail(image);
    }
    image.fileSize = size;
    return true;
}

}  // namespace firmstep
