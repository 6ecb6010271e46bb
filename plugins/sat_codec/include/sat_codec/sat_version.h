// Which generation of the SCSI/ATA Translation a bridge follows, as far as it
// decides where fixed-format sense carries the LBA bytes: SAT-2 bridges give
// LBA (23:16) in byte 9 and (7:0) in byte 11, SAT-3 and SAT-4 the other way round.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "sat_codec/sat_sense.h"

namespace sat {

enum class Version : uint8_t { Sat2 = 2, Sat3 = 3, Sat4 = 4 };

// "SAT2", "SAT3" or "SAT4", in any case; nothing for other text.
std::optional<Version> parseVersion(std::string_view text);

// The version a standard INQUIRY reply claims through its eight version
// descriptors (bytes 58 to 73, big-endian): 1EE0h or 1EE2h SAT-3, 1F00h
// SAT-4; SAT-2 for anything else, a reply too short to hold them included.
Version versionFromInquiry(std::span<const uint8_t> inquiry);

// The fixed-format register layout of a version.
FixedLayout fixedLayoutOf(Version version);

}  // namespace sat
