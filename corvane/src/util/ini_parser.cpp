// The INI parser: sections of key/value pairs, read into two parallel lists
// (section names and, at the same index, each section's StringMap).
//
//   # comment            (only '#' starts a comment; empty lines are skipped)
//   [ section name ]     (blanks around the name are trimmed)
//   key = value          (key trimmed on the right, value on the left; a later
//                         line with the same key replaces the earlier value)
#include <corvane.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "ini_line_reader.h"
#include "text_copy.h"

namespace {

using corvane::IniLineReader;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Frees what the parser put into the lists and leaves them empty.
void ReleaseSections(ArrayList* names, ArrayList* maps)
{
    for (int32_t i = 0; i < ArrayList_GetSize(names); ++i) CvFree(ArrayList_Get(names, i));
    for (int32_t i = 0; i < ArrayList_GetSize(maps); ++i) StringMap_Destroy(static_cast<StringMap*>(ArrayList_Get(maps, i)));
    ArrayList_Clear(names);
    ArrayList_Clear(maps);
}

class IniParser {
public:
    IniParser(ArrayList* names, ArrayList* maps, CvError* error) : names_(names), maps_(maps), error_(error) {}

    // 1, or 0 with the error filled.
    int parseLine(const std::string& line, int number)
    {
        if (line.empty() || line[0] == '#') return 1;
        if (line[0] == ' ' || line[0] == '\t')
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Lines cannot start with whitespace unless it is just a newline character",
                                    number);
        if (line[0] == '[') return parseSectionHeader(line, number);
        return parseEntry(line, number);
    }

private:
    int parseSectionHeader(const std::string& line, int number)
    {
        if (line.back() != ']')
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Malformed section header (doesn't end with ']'): '%s'", number,
                                    line.c_str());
        const std::size_t closing = line.size() - 1;
        const std::size_t first = line.find_first_not_of(' ', 1);  // <= closing: line[closing] is ']'
        if (line[first] == ']')
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Malformed section header (unable to find section name): '%s'", number,
                                    line.c_str());
        const std::size_t last = line.find_last_not_of(' ', closing - 1);  // >= first: line[first] is no blank
        char* name = corvane::AllocText(std::string_view(line).substr(first, last - first + 1));
        StringMap* map = StringMap_Create();
        if (name == nullptr || map == nullptr) {
            CvFree(name);
            StringMap_Destroy(map);
            return outOfMemory(number);
        }
        ArrayList_Add(names_, name);
        ArrayList_Add(maps_, map);
        return 1;
    }

    int parseEntry(const std::string& line, int number)
    {
        StringMap* section = static_cast<StringMap*>(ArrayList_Get(maps_, ArrayList_GetSize(maps_) - 1));
        if (section == nullptr)
            return CvSetThreadError(
                error_, CV_ERROR_FAILED,
                "Line %d: Illegal INI format (no section has been defined to stick this key / value pair into): '%s'",
                number, line.c_str());
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Malformed section entry (unable to find '=' symbol): '%s'", number,
                                    line.c_str());
        const std::size_t keyEnd = line.find_last_not_of(" \t", equals == 0 ? std::string::npos : equals - 1);
        if (equals == 0 || keyEnd == std::string::npos)
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Malformed section entry (unable to find key name before '=' symbol): '%s'",
                                    number, line.c_str());
        const std::size_t valueStart = line.find_first_not_of(" \t", equals + 1);
        if (valueStart == std::string::npos)
            return CvSetThreadError(error_, CV_ERROR_FAILED,
                                    "Line %d: Malformed section entry (unable to find value after '=' symbol): '%s'",
                                    number, line.c_str());
        const std::string key = line.substr(0, keyEnd + 1);
        StringMap_SetValue(section, key.c_str(), line.c_str() + valueStart);
        return 1;
    }

    int outOfMemory(int number)
    {
        return CvSetThreadError(error_, CV_ERROR_INTERNAL, "Line %d: Out of memory", number);
    }

    ArrayList* names_;
    ArrayList* maps_;
    CvError* error_;
};

}  // namespace

int CvUtil_ParseINI(const char* path, ArrayList* sectionNames, ArrayList* sectionMaps, CvError* error)
{
    if (sectionNames == nullptr || sectionMaps == nullptr)
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "No section lists to parse '%s' into",
                                path ? path : "");
    ArrayList_Clear(sectionNames);
    ArrayList_Clear(sectionMaps);

    const std::unique_ptr<std::FILE, FileCloser> file(path ? std::fopen(path, "r") : nullptr);
    if (!file) return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to open file '%s' for reading", path ? path : "");

    IniLineReader reader(file.get());
    IniParser parser(sectionNames, sectionMaps, error);
    while (reader.next()) {
        if (parser.parseLine(reader.line(), reader.number()) == 0) {
            ReleaseSections(sectionNames, sectionMaps);
            return 0;
        }
    }
    if (reader.failed()) {
        // Sections read before the error are not handed out half-complete.
        ReleaseSections(sectionNames, sectionMaps);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to open file '%s' for reading", path);
    }
    return CvSetNoThreadError(error);
}
