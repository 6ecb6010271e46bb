// The table of VT drives found on the machine: one row per drive, numbered from
// 0 by its row index, with the access paths that reach it and its identity.
#pragma once

#include <corvane.h>

#include <cstddef>
#include <cstdint>

namespace firmstep {

inline constexpr std::uint32_t kDriveTableCapacity = 1024;
inline constexpr std::uint32_t kMaxAccessPaths = 16;

// DriveEntry::marks. A row holds one type mark; the selection mark may also sit
// on rows beyond the count, set by "-dev" before discovery.
enum DriveMark : std::uint32_t {
    kMarkSelected = 0x1,
    kMarkAta = 0x2,
    kMarkScsi = 0x4,
    kMarkNvme = 0x8,
    kMarkTypes = kMarkAta | kMarkScsi | kMarkNvme,
};

// Text field sizes, terminator included.
inline constexpr std::size_t kSerialNumberSize = 21;      // 20 characters
inline constexpr std::size_t kFirmwareRevisionSize = 9;   // 8 characters
inline constexpr std::size_t kModelSize = 48;             // 40 characters used
inline constexpr std::size_t kModelLength = 40;

// One way to reach a drive: a service of a resource on the table's machine.
struct AccessPath {
    CvUID resource;
    CvUID service;
};

// What the drive tells about itself. Which fields a drive type fills is in
// drive_identity.h; the others stay 0.
struct DriveIdentity {
    char serialNumber[kSerialNumberSize];
    char firmwareRevision[kFirmwareRevisionSize];
    char model[kModelSize];
    std::uint64_t capacity28;             // ATA words 60-61; NVMe namespace size
    std::uint64_t capacity48;             // ATA words 100-103
    std::uint64_t capacityGB;             // ATA only
    std::uint16_t wwn[4];                 // SCSI and NVMe fill words 0 and 1 only
    std::uint16_t commandSetWord;         // ATA word 83
    std::uint16_t minDownloadBlocks;      // smallest download block count
    std::uint16_t maxDownloadBlocks;      // largest; decides the default transfer length
    std::uint8_t firmwareUpdate;          // NVMe: firmware updates byte (slot count in bits 3-1)
    std::uint8_t firmwareUpdateGranularity;  // NVMe
    std::uint32_t namespaceCount;         // NVMe
};

struct DriveEntry {
    std::uint32_t marks;       // DriveMark bits
    std::uint32_t pathCount;   // valid paths, 1 to kMaxAccessPaths
    AccessPath paths[kMaxAccessPaths];  // in the order found; the first that works is used
    DriveIdentity identity;    // read through path 0, refreshed after an update
};

struct DriveTable {
    std::uint32_t count;       // rows 0 to count-1 hold drives
    CvUID machine;             // the machine the drives were found on
    DriveEntry rows[kDriveTableCapacity];
};

static_assert(offsetof(AccessPath, resource) == 0);
static_assert(offsetof(AccessPath, service) == 4);
static_assert(sizeof(AccessPath) == 8);

static_assert(offsetof(DriveIdentity, serialNumber) == 0);
static_assert(offsetof(DriveIdentity, firmwareRevision) == 21);
static_assert(offsetof(DriveIdentity, model) == 30);
static_assert(offsetof(DriveIdentity, capacity28) == 80);
static_assert(offsetof(DriveIdentity, capacity48) == 88);
static_assert(offsetof(DriveIdentity, capacityGB) == 96);
static_assert(offsetof(DriveIdentity, wwn) == 104);
static_assert(offsetof(DriveIdentity, commandSetWord) == 112);
static_assert(offsetof(DriveIdentity, minDownloadBlocks) == 114);
static_assert(offsetof(DriveIdentity, maxDownloadBlocks) == 116);
static_assert(offsetof(DriveIdentity, firmwareUpdate) == 118);
static_assert(offsetof(DriveIdentity, firmwareUpdateGranularity) == 119);
static_assert(offsetof(DriveIdentity, namespaceCount) == 120);
static_assert(sizeof(DriveIdentity) == 128);

static_assert(offsetof(DriveEntry, marks) == 0);
static_assert(offsetof(DriveEntry, pathCount) == 4);
static_assert(offsetof(DriveEntry, paths) == 8);
static_assert(offsetof(DriveEntry, identity) == 136);
static_assert(sizeof(DriveEntry) == 264);

static_assert(offsetof(DriveTable, count) == 0);
static_assert(offsetof(DriveTable, machine) == 4);
static_assert(offsetof(DriveTable, rows) == 8);

// Whether row `index` takes part in the run: every row does unless an explicit
// selection exists, and then only the marked ones.
inline bool IsRowChosen(const DriveTable& table, bool explicitSelection, std::uint32_t index)
{
    return index < kDriveTableCapacity &&
           (!explicitSelection || (table.rows[index].marks & kMarkSelected) != 0);
}

// The bus name the listing prints for a row's type mark.
inline const char* DriveTypeName(std::uint32_t marks)
{
    if ((marks & kMarkNvme) != 0)
        return "NVMe";
    if ((marks & kMarkScsi) != 0)
        return "SCSI";
    return "ATA";
}

}  // namespace firmstep
