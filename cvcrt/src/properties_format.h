// The line format of properties files ("key = value", "#" starts a comment),
// independent of the map family that receives the entries.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace cvcrt {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Formats into the caller's message buffer, cut to its length; does nothing when
// the buffer is null or its length is 0.
void ReportMessage(char* buffer, size_t length, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A line longer than this is refused rather than buffered without limit.
constexpr size_t kMaxPropertyLineLength = 64 * 1024;

enum class ReadStatus { kLine, kEnd, kError, kTooLong };

// Reads one whole line without its line end ("\n" or "\r\n").
ReadStatus ReadPropertyLine(std::FILE* file, std::string& line);

enum class LineKind { kBlank, kEntry, kNoKey, kNoEquals, kNoValue };

struct ParsedLine {
    LineKind kind;
    std::string_view key;    // outer blanks removed, inner ones kept
    std::string_view value;
};

// Cuts the line at the first "#" (or NUL byte), then splits it at the first "="
// after the key's first character.
ParsedLine ParsePropertyLine(std::string_view line);

// True when "key = value" reads back as the same entry: neither part empty or
// padded with blanks, no line ends or "#" in either, no "=" in the key.
bool IsWritableProperty(const char* key, const char* value);

}  // namespace cvcrt
