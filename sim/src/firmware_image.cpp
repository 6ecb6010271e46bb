// Building and checking simulated firmware images.
#include "simdrive/firmware_image.h"

#include <cstring>

#include <cvcrt.h>

#include "byte_order.h"

namespace simdrive {

namespace {

constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kCrcOffset = 10;
constexpr std::size_t kLengthOffset = 12;
constexpr std::size_t kPrefixOffset = 16;
constexpr std::size_t kRevisionOffset = 40;
constexpr std::size_t kReservedOffset = 48;
constexpr std::size_t kMagicSize = 8;

// Image text: printable ASCII without the characters the description and state
// files use as syntax.
bool isImageTextChar(char c) {
    return c > ' ' && c <= '~' && c != '#' && c != '=' && c != ';';
}

bool validImageText(std::string_view text, std::size_t capacity) {
    if (text.empty() || text.size() > capacity) return false;
    for (char c : text) {
        if (!isImageTextChar(c) && c != ' ') return false;
    }
    return text.front() != ' ' && text.back() != ' ';
}

// Reads a NUL-padded field: text, then only NULs.
bool readPaddedText(std::span<const uint8_t> field, std::string& text) {
    std::size_t length = 0;
    while (length < field.size() && field[length] != 0) ++length;
    for (std::size_t i = length; i < field.size(); ++i) {
        if (field[i] != 0) return false;
    }
    text.assign(reinterpret_cast<const char*>(field.data()), length);
    return validImageText(text, field.size());
}

uint16_t payloadCrc(std::span<const uint8_t> payload) {
    return CRCCreateCCITT16(payload.data(), static_cast<int32_t>(payload.size()));
}

}  // namespace

const char* describeImageProblem(ImageProblem problem) {
    switch (problem) {
    case ImageProblem::None: return "image is valid";
    case ImageProblem::ShortHeader: return "image is shorter than its header";
    case ImageProblem::BadMagic: return "not a firmware image (bad magic)";
    case ImageProblem::BadVersion: return "unsupported image format version";
    case ImageProblem::BadHeader: return "malformed image header";
    case ImageProblem::TooLarge: return "payload larger than a drive can buffer";
    case ImageProblem::Truncated: return "image is shorter than its header announces";
    case ImageProblem::BadCrc: return "payload CRC mismatch";
    case ImageProblem::ForeignModel: return "image is for another model";
    case ImageProblem::RevisionTooLong: return "revision does not fit the drive";
    }
    return "unknown image problem";
}

ImageProblem parseImageHeader(std::span<const uint8_t> bytes, ImageHeader& header) {
    if (bytes.size() < kImageHeaderSize) return ImageProblem::ShortHeader;
    if (std::memcmp(bytes.data() + kMagicOffset, kImageMagic, kMagicSize) != 0) return ImageProblem::BadMagic;
    if (getLe16(bytes, kVersionOffset) != kImageFormatVersion) return ImageProblem::BadVersion;
    ImageHeader parsed;
    parsed.payloadCrc = getLe16(bytes, kCrcOffset);
    parsed.payloadLength = getLe32(bytes, kLengthOffset);
    if (!readPaddedText(bytes.subspan(kPrefixOffset, kImageModelPrefixSize), parsed.modelPrefix) ||
        !readPaddedText(bytes.subspan(kRevisionOffset, kImageRevisionSize), parsed.revision)) {
        return ImageProblem::BadHeader;
    }
    for (std::size_t i = kReservedOffset; i < kImageHeaderSize; ++i) {
        if (bytes[i] != 0) return ImageProblem::BadHeader;
    }
    if (parsed.imageLength() > kMaxImageBytes) return ImageProblem::TooLarge;
    header = std::move(parsed);
    return ImageProblem::None;
}

ImageVerdict verifyImage(std::span<const uint8_t> bytes, std::string_view driveModel, std::size_t revisionCapacity) {
    ImageHeader header;
    ImageVerdict verdict;
    verdict.problem = parseImageHeader(bytes, header);
    if (verdict.problem != ImageProblem::None) return verdict;
    if (bytes.size() < header.imageLength()) {
        verdict.problem = ImageProblem::Truncated;
    } else if (payloadCrc(bytes.subspan(kImageHeaderSize, header.payloadLength)) != header.payloadCrc) {
        verdict.problem = ImageProblem::BadCrc;
    } else if (!driveModel.starts_with(header.modelPrefix)) {
        verdict.problem = ImageProblem::ForeignModel;
    } else if (header.revision.size() > revisionCapacity) {
        verdict.problem = ImageProblem::RevisionTooLong;
    } else {
        verdict.revision = header.revision;
    }
    return verdict;
}

std::vector<uint8_t> buildImage(const ImageRecipe& recipe, std::string& error) {
    if (!validImageText(recipe.modelPrefix, kImageModelPrefixSize)) {
        error = "model prefix must be 1 to 24 printable characters without '#', '=' or ';'";
        return {};
    }
    if (!validImageText(recipe.revision, kImageRevisionSize)) {
        error = "revision must be 1 to 8 printable characters without '#', '=' or ';'";
        return {};
    }
    if (kImageHeaderSize + recipe.payload.size() > kMaxImageBytes) {
        error = "payload larger than a drive can buffer";
        return {};
    }
    if (recipe.alignment == 0 || recipe.alignment > kMaxImageBytes) {
        error = "alignment must be between 1 and the largest image";
        return {};
    }
    std::size_t length = kImageHeaderSize + recipe.payload.size();
    length = (length + recipe.alignment - 1) / recipe.alignment * recipe.alignment;
    if (length > kMaxImageBytes) {
        error = "padded image larger than a drive can buffer";
        return {};
    }
    std::vector<uint8_t> image(length, 0);
    std::span<uint8_t> out(image);
    std::memcpy(image.data() + kMagicOffset, kImageMagic, kMagicSize);
    putLe16(out, kVersionOffset, kImageFormatVersion);
    putLe16(out, kCrcOffset, payloadCrc(recipe.payload));
    putLe32(out, kLengthOffset, static_cast<uint32_t>(recipe.payload.size()));
    std::memcpy(image.data() + kPrefixOffset, recipe.modelPrefix.data(), recipe.modelPrefix.size());
    std::memcpy(image.data() + kRevisionOffset, recipe.revision.data(), recipe.revision.size());
    std::copy(recipe.payload.begin(), recipe.payload.end(), image.begin() + kImageHeaderSize);
    error.clear();
    return image;
}

std::vector<uint8_t> patternPayload(std::size_t length, uint32_t seed) {
    std::vector<uint8_t> payload(length);
    uint64_t state = (static_cast<uint64_t>(seed) << 1) | 1;
    for (auto& byte : payload) {
        // xorshift64: cheap, deterministic, not all zeros.
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return payload;
}

}  // namespace simdrive
