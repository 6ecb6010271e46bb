#include "model_strings.h"

#include "file_handle.h"
#include "output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace firmstep {
namespace {

// Reads one line without its line end (a final "\n", "\r\n" or "\r").
// Returns false at the end of the file.
bool ReadLine(std::FILE* file, std::string& line)
{
    line.clear();
    char piece[256];
    bool readAny = false;
    while (std::fgets(piece, sizeof piece, file) != nullptr) {
        readAny = true;
        line += piece;
        if (!line.empty() && line.back() == '\n')
            break;
    }
    if (!readAny)
        return false;
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// Copies at most `maxLength` characters of `field` into `out` (room maxLength + 1).
void CopyCut(char* out, std::size_t maxLength, const std::string& field)
{
    const std::size_t length = std::min(field.size(), maxLength);
    std::memcpy(out, field.data(), length);
    out[length] = '\0';
}

ModelTable g_runModelTable{};

}  // namespace

int ReadModelStringFileInto(const char* path, ModelTable& table)
{
    table.count = 0;
    const FileHandle file(std::fopen(path, "r"));
    if (!file) {
        ToolPrint("ERROR: Cannot open Model String file '%s'\n", path);
        return -1;
    }
    std::string line;
    int lineNumber = 0;
    while (ReadLine(file.get(), line)) {
        ++lineNumber;
        if (line.size() > kModelLineMaxLength) {
            ToolPrint("ERROR: Line %d of Model String file '%s' is longer than %d characters\n", lineNumber, path,
                      static_cast<int>(kModelLineMaxLength));
            continue;
        }
        const std::size_t firstComma = line.find(',');
        if (firstComma == std::string::npos) {
            ToolPrint("ERROR: No commas in line %d of Model String file '%s'\n", lineNumber, path);
            continue;
        }
        const std::size_t secondComma = line.find(',', firstComma + 1);
        if (secondComma == std::string::npos) {
            ToolPrint("ERROR: No second comma in line %d of Model String file '%s'\n", lineNumber, path);
            continue;
        }
        const std::string firmwareFile = line.substr(secondComma + 1);
        if (firmwareFile.empty()) {
            ToolPrint("ERROR: No FW file name in line %d of Model String file '%s'\n", lineNumber, path);
            continue;
        }
        if (table.count >= kModelTableCapacity) {
            ToolPrint("ERROR: Line %d of Model String file '%s' is ignored; the file holds more than %d entries\n",
                      lineNumber, path, static_cast<int>(kModelTableCapacity));
            continue;
        }
        ModelEntry& entry = table.entries[table.count++];
        CopyCut(entry.model, kModelEntryModelLength, line.substr(0, firstComma));
        CopyCut(entry.firmwareRevision, kModelEntryRevisionLength,
                line.substr(firstComma + 1, secondComma - firstComma - 1));
        CopyCut(entry.firmwareFile, kModelEntryFileLength, firmwareFile);
    }
    return static_cast<int>(table.count);
}

const ModelEntry* FindModelEntry(const ModelTable& table, const DriveIdentity& identity)
{
    for (std::uint32_t i = 0; i < table.count && i < kModelTableCapacity; ++i) {
        const ModelEntry& entry = table.entries[i];
        if (std::strncmp(entry.model, identity.model, kModelEntryModelLength) == 0 &&
            std::strncmp(entry.firmwareRevision, identity.firmwareRevision, kModelEntryRevisionLength) != 0)
            return &entry;
    }
    return nullptr;
}

ModelTable& RunModelTable()
{
    return g_runModelTable;
}

const ModelEntry* FindModelEntry(const DriveIdentity& identity)
{
    return FindModelEntry(g_runModelTable, identity);
}

}  // namespace firmstep
