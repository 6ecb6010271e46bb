// The model-string file of "-model": lines of "model,firmware revision,firmware
// file". A drive whose model is listed and whose revision differs from the
// listed one receives that line's firmware file.
#pragma once

#include "drive_table.h"

#include <cstddef>
#include <cstdint>

namespace firmstep {

inline constexpr std::size_t kModelEntryModelLength = 40;
inline constexpr std::size_t kModelEntryRevisionLength = 8;
inline constexpr std::size_t kModelEntryFileLength = 512;
inline constexpr std::size_t kModelTableCapacity = 256;
// Longest line content (line end excluded) the reader takes.
inline constexpr std::size_t kModelLineMaxLength = 1022;

struct ModelEntry {
    char model[kModelEntryModelLength + 1];
    char firmwareRevision[kModelEntryRevisionLength + 1];
    char firmwareFile[kModelEntryFileLength + 1];
};

struct ModelTable {
    std::uint32_t count;
    ModelEntry entries[kModelTableCapacity];
};

// Reads the file into `table` (emptied first), reporting every line it cannot
// use. Returns the number of valid entries, or -1 when the file cannot be opened.
int ReadModelStringFileInto(const char* path, ModelTable& table);

// The first entry, in file order, for the drive's model whose revision differs
// from the drive's; null when there is none.
const ModelEntry* FindModelEntry(const ModelTable& table, const DriveIdentity& identity);

// The table of the run, filled once before the framework starts.
ModelTable& RunModelTable();
// Shorthand for FindModelEntry(RunModelTable(), identity), for the per-drive step.
const ModelEntry* FindModelEntry(const DriveIdentity& identity);

}  // namespace firmstep
