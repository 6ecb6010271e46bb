// Properties-file reader and writer for both map families. Map is a TextMap
// specialisation that also names its family (kFamilyName) for the messages.
#pragma once

#include <cstdio>
#include <string>

#include "properties_format.h"

namespace cvcrt {

// Reads every entry first; any error leaves the target untouched. New keys are
// appended in file order, keys the target already holds keep their value.
template <typename Map>
int AddFromPropertiesFile(Map& target, const char* path, char* message, size_t messageLength) {
    if (!message) messageLength = 0;
    if (messageLength) message[0] = '\0';
    const char* shownPath = path ? path : "(null)";
    FilePtr file(path ? std::fopen(path, "r") : nullptr);
    if (!file) {
        ReportMessage(message, messageLength, "Unable to open file '%s' for reading config information\n", shownPath);
        return -1;
    }
    constexpr int kMax = static_cast<int>(Map::kMaxText);
    Map collected;
    std::string line;
    for (int lineNumber = 1;; ++lineNumber) {
        const ReadStatus status = ReadPropertyLine(file.get(), line);
        if (status == ReadStatus::kEnd) break;
        if (status != ReadStatus::kLine) {
            ReportMessage(message, messageLength, "%s:%d - Error reading line\n", shownPath, lineNumber);
            return -1;
        }
        const ParsedLine parsed = ParsePropertyLine(line);
        switch (parsed.kind) {
            case LineKind::kBlank:
                continue;
            case LineKind::kNoKey:
                ReportMessage(message, messageLength, "%s:%d - Unable to find the beginning of the key\n", shownPath,
                              lineNumber);
                return -1;
            case LineKind::kNoEquals:
                ReportMessage(message, messageLength,
                              "%s:%d - Unable to find the equals sign seperating the key and the value\n", shownPath,
                              lineNumber);
                return -1;
            case LineKind::kNoValue:
                ReportMessage(message, messageLength, "%s:%d - Unable to find the beginning of the value\n",
                              shownPath, lineNumber);
                return -1;
            case LineKind::kEntry:
                break;
        }
        // Text that would not fit its field whole is refused, never cut.
        if (parsed.key.size() > Map::kMaxText) {
            ReportMessage(message, messageLength, "%s:%d - 'Key' value too long, max is %d chars\n", shownPath,
                          lineNumber, kMax);
            return -1;
        }
        if (parsed.value.size() > Map::kMaxText) {
            ReportMessage(message, messageLength, "%s:%d - 'Value' value too long, max is %d chars\n", shownPath,
                          lineNumber, kMax);
            return -1;
        }
        const std::string key(parsed.key);
        const std::string value(parsed.value);
        if (collected.ContainsKey(key.c_str())) {
            ReportMessage(message, messageLength, "%s:%d - %s already has the key '%s'\n", shownPath, lineNumber,
                          Map::kFamilyName, key.c_str());
            return -1;
        }
        const int32_t before = collected.Size();
        collected.AddValue(key.c_str(), value.c_str());
        if (collected.Size() == before) {  // out of memory: a partial load would lose entries
            ReportMessage(message, messageLength, "%s:%d - Error reading line\n", shownPath, lineNumber);
            return -1;
        }
    }
    file.reset();
    for (const auto& entry : collected.Entries()) target.AddValue(entry.key.data(), entry.value.data());
    return 0;
}

// Writes "key = value" lines in list order. Entries that would not read back as
// written are refused before the file is touched.
template <typename Map>
int SaveToPropertiesFile(const Map& map, const char* path, char* message, size_t messageLength) {
    if (!message) messageLength = 0;
    if (messageLength) message[0] = '\0';
    const char* shownPath = path ? path : "(null)";
    for (const auto& entry : map.Entries()) {
        if (!IsWritableProperty(entry.key.data(), entry.value.data())) {
            ReportMessage(message, messageLength, "Unable to save the key '%s' to '%s', it would not read back\n",
                          entry.key.data(), shownPath);
            return -1;
        }
    }
    FilePtr file(path ? std::fopen(path, "w") : nullptr);
    if (!file) {
        ReportMessage(message, messageLength, "Unable to open '%s' to save the configuration\n", shownPath);
        return -1;
    }
    bool written = true;
    for (const auto& entry : map.Entries())
        written = written && std::fprintf(file.get(), "%s = %s\n", entry.key.data(), entry.value.data()) >= 0;
    written = std::fclose(file.release()) == 0 && written;
    if (!written) {
        ReportMessage(message, messageLength, "Unable to write '%s' to save the configuration\n", shownPath);
        return -1;
    }
    return 0;
}

}  // namespace cvcrt
