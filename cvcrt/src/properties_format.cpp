#include "properties_format.h"

#include <cstdarg>
#include <cstring>

namespace cvcrt {

namespace {

constexpr std::string_view kBlanks = " \t";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsWritableText(std::string_view text) {
    return !text.empty() && !IsBlank(text.front()) && !IsBlank(text.back()) &&
           text.find_first_of("#\r\n") == std::string_view::npos;
}

}  // namespace

void ReportMessage(char* buffer, size_t length, const char* format, ...) {
    if (!buffer || length == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, length, format, args);
    va_end(args);
}

ReadStatus ReadPropertyLine(std::FILE* file, std::string& line) {
    line.clear();
    bool readAnything = false;
    int c = 0;
    while ((c = std::getc(file)) != EOF) {
        readAnything = true;
        if (c == '\n') break;
        if (line.size() == kMaxPropertyLineLength) return ReadStatus::kTooLong;
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(file)) return ReadStatus::kError;
    if (!readAnything) return ReadStatus::kEnd;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return ReadStatus::kLine;
}

ParsedLine ParsePropertyLine(std::string_view line) {
    line = line.substr(0, line.find_first_of(std::string_view("#\n\0", 3)));
    if (line.empty()) return {LineKind::kBlank, {}, {}};
    const size_t keyStart = line.find_first_not_of(kBlanks);
    if (keyStart == std::string_view::npos) return {LineKind::kNoKey, {}, {}};
    const size_t equals = line.find('=', keyStart + 1);
    if (equals == std::string_view::npos) return {LineKind::kNoEquals, {}, {}};
    // line[keyStart] is not blank, so the key keeps at least one character.
    const size_t keyEnd = line.find_last_not_of(kBlanks, equals - 1) + 1;
    const size_t valueStart = line.find_first_not_of(kBlanks, equals + 1);
    if (valueStart == std::string_view::npos) return {LineKind::kNoValue, {}, {}};
    const size_t valueEnd = line.find_last_not_of(kBlanks) + 1;
    return {LineKind::kEntry, line.substr(keyStart, keyEnd - keyStart), line.substr(valueStart, valueEnd - valueStart)};
}

bool IsWritableProperty(const char* key, const char* value) {
    if (!key || !value) return false;
    return IsWritableText(key) && IsWritableText(value) && std::strchr(key, '=') == nullptr;
}

}  // namespace cvcrt
