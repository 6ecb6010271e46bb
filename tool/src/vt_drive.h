// The test that decides whether a drive is one of the maker's VT drives.
#pragma once

#include "drive_table.h"

#include <cstdint>

namespace firmstep {

// The maker's IEEE OUI as carried in WWN words 0 and 1.
std::uint32_t WwnOui(const DriveIdentity& identity);

// A VT drive carries one of the maker's OUIs in its WWN, or a model that begins
// with one of the maker's prefixes (case sensitive).
bool IsVtDrive(const DriveIdentity& identity);

}  // namespace firmstep
