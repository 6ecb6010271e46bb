#include "vt_drive.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace firmstep {
namespace {

constexpr std::array<std::uint32_t, 6> kVtOuis = {0x02A001, 0x02A002, 0x02A003, 0x02A004, 0x02A005, 0x02A006};
constexpr std::array<const char*, 4> kVtModelPrefixes = {"VT", "KX", "KY", "Ky"};

}  // namespace

std::uint32_t WwnOui(const DriveIdentity& identity)
{
    return ((static_cast<std::uint32_t>(identity.wwn[0]) << 12) | (identity.wwn[1] >> 4)) & 0xFFFFFFu;
}

bool IsVtDrive(const DriveIdentity& identity)
{
    const std::uint32_t oui = WwnOui(identity);
    if (std::find(kVtOuis.begin(), kVtOuis.end(), oui) != kVtOuis.end())
        return true;
    return std::any_of(kVtModelPrefixes.begin(), kVtModelPrefixes.end(),
                       [&](const char* prefix) { return std::strncmp(identity.model, prefix, 2) == 0; });
}

}  // namespace firmstep
