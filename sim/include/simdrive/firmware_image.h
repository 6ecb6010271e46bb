// The firmware image format simulated drives accept. An image is a 64-byte
// header, the payload, and zero padding up to the maker's alignment:
//
//   offset size  field (little-endian)
//        0    8  magic "SIMDRVFW"
//        8    2  format version, 1
//       10    2  CRC-16 of the payload (CRCCreateCCITT16)
//       12    4  payload length in bytes
//       16   24  model prefix the image applies to, ASCII, NUL padded
//       40    8  firmware revision the image installs, ASCII, NUL padded
//       48   16  reserved, zero
//
// A drive reads the header as soon as it has arrived, so it knows where the
// image ends; it checks the rest before it activates anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace simdrive {

inline constexpr std::size_t kImageHeaderSize = 64;
inline constexpr std::size_t kImageModelPrefixSize = 24;
inline constexpr std::size_t kImageRevisionSize = 8;
inline constexpr uint16_t kImageFormatVersion = 1;
inline constexpr char kImageMagic[] = "SIMDRVFW";
// The largest image a drive buffers: what 16-bit block offsets of 512 bytes reach.
inline constexpr std::size_t kMaxImageBytes = 32u * 1024 * 1024;

enum class ImageProblem {
    None,
    ShortHeader,      // fewer bytes than a header
    BadMagic,
    BadVersion,
    BadHeader,        // text fields or reserved bytes malformed
    TooLarge,         // payload beyond what a drive can buffer
    Truncated,        // fewer bytes than the header announces
    BadCrc,
    ForeignModel,     // the prefix does not match the drive's model
    RevisionTooLong,  // the revision does not fit the drive's field
};

const char* describeImageProblem(ImageProblem problem);

struct ImageHeader {
    std::string modelPrefix;
    std::string revision;
    uint32_t payloadLength = 0;
    uint16_t payloadCrc = 0;

    std::size_t imageLength() const { return kImageHeaderSize + payloadLength; }
};

// Reads the header from the first kImageHeaderSize bytes; only the header's own
// fields are checked.
ImageProblem parseImageHeader(std::span<const uint8_t> bytes, ImageHeader& header);

// Everything a drive checks before activating: header, length, CRC, model
// prefix against the drive's model and the revision against its field width.
struct ImageVerdict {
    ImageProblem problem = ImageProblem::None;
    std::string revision;
};
ImageVerdict verifyImage(std::span<const uint8_t> bytes, std::string_view driveModel, std::size_t revisionCapacity);

struct ImageRecipe {
    std::string modelPrefix;
    std::string revision;
    std::vector<uint8_t> payload;
    std::size_t alignment = 4096;  // the whole image is padded to a multiple of this (1: no padding)
};

// Builds an image; on failure returns an empty vector and says why in `error`.
std::vector<uint8_t> buildImage(const ImageRecipe& recipe, std::string& error);

// Deterministic filler payload for tests and demos.
std::vector<uint8_t> patternPayload(std::size_t length, uint32_t seed);

}  // namespace simdrive
