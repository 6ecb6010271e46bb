// The translation generation of a bridge.
#include "sat_codec/sat_version.h"

#include <cctype>

namespace sat {

namespace {
constexpr std::size_t kFirstDescriptor = 58, kDescriptorCount = 8;
constexpr uint16_t kSat3 = 0x1EE0, kSat3Rev = 0x1EE2, kSat4 = 0x1F00;
}  // namespace

std::optional<Version> parseVersion(std::string_view text) {
    if (text.size() != 4) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != "SAT"[i]) return std::nullopt;
    }
    switch (text[3]) {
    case '2': return Version::Sat2;
    case '3': return Version::Sat3;
    case '4': return Version::Sat4;
    default: return std::nullopt;
    }
}

Version versionFromInquiry(std::span<const uint8_t> inquiry) {
    // A descriptor counts only when the reply holds both of its bytes.
    for (std::size_t i = 0; i < kDescriptorCount; ++i) {
        const std::size_t at = kFirstDescriptor + 2 * i;
        if (at + 2 > inquiry.size()) break;
        const uint16_t descriptor = static_cast<uint16_t>(inquiry[at] << 8 | inquiry[at + 1]);
        if (descriptor == kSat3 || descriptor == kSat3Rev) return Version::Sat3;
        if (descriptor == kSat4) return Version::Sat4;
    }
    return Version::Sat2;
}

FixedLayout fixedLayoutOf(Version version) {
    return version == Version::Sat2 ? FixedLayout::SatLbaReversed : FixedLayout::Sat;
}

}  // namespace sat
