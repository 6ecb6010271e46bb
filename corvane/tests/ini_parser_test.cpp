// The INI parser: sections, entries, comments and every line-numbered message.
#include <corvane.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Entries>>;

struct ParseResult {
    int ok;
    CvError error;
    Sections sections;
};

class IniParserTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& content)
    {
        const auto path = dir_ / ("config" + std::to_string(files_++) + ".ini");
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    static ParseResult parsePath(const std::string& path)
    {
        ArrayList* names = ArrayList_Create();
        ArrayList* maps = ArrayList_Create();
        ParseResult result{};
        result.ok = CvUtil_ParseINI(path.c_str(), names, maps, &result.error);
        EXPECT_EQ(ArrayList_GetSize(names), ArrayList_GetSize(maps));
        for (int32_t i = 0; i < ArrayList_GetSize(names); ++i) {
            auto* map = static_cast<StringMap*>(ArrayList_Get(maps, i));
            Entries entries;
            for (int32_t k = 0; k < StringMap_GetSize(map); ++k)
                entries.emplace_back(StringMap_GetEntryKey(map, k), StringMap_GetEntryValue(map, k));
            result.sections.emplace_back(static_cast<char*>(ArrayList_Get(names, i)), entries);
            StringMap_Destroy(map);
        }
        CvUtil_DestroyListAndData(names);
        ArrayList_Destroy(maps);
        return result;
    }

    ParseResult parse(const std::string& content) { return parsePath(write(content)); }

    void expectFailure(const std::string& content, const std::string& message)
    {
        const ParseResult result = parse(content);
        EXPECT_EQ(0, result.ok) << content;
        EXPECT_EQ(CV_ERROR_FAILED, result.error.code) << content;
        EXPECT_EQ(message, result.error.message) << content;
        EXPECT_TRUE(result.sections.empty()) << content;
    }

    std::filesystem::path dir_ = [] {
        auto dir = std::filesystem::temp_directory_path() /
                   ("corvane-ini-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        return dir;
    }();
    int files_ = 0;
};

TEST_F(IniParserTest, ReadsSectionsInFileOrder)
{
    const ParseResult result = parse(
        "# firmstep configuration\n"
        "\n"
        "[Corvane]\n"
        "Plugins=cvpl-local,cvpl-ata\n"
        "key = value  \n"
        "a=b=c\n"
        "spaced\t \t=\t  x y\n"
        "key=replaced\n"
        "[ name ]\n"
        "[Corvane]\n"
        "other=1\n");
    ASSERT_EQ(1, result.ok) << result.error.message;
    EXPECT_EQ(0, result.error.code);
    EXPECT_EQ(result.sections, (Sections{
                                   {"Corvane",
                                    {{"Plugins", "cvpl-local,cvpl-ata"},
                                     {"key", "replaced"},
                                     {"a", "b=c"},
                                     {"spaced", "x y"}}},
                                   {"name", {}},
                                   {"Corvane", {{"other", "1"}}},
                               }));
}

TEST_F(IniParserTest, AcceptsCrLfLineEnds)
{
    const ParseResult result = parse("[s]\r\n\r\nk = v \r\n# note\r\n[t]\r\nx=1");
    ASSERT_EQ(1, result.ok) << result.error.message;
    EXPECT_EQ(result.sections, (Sections{{"s", {{"k", "v "}}}, {"t", {{"x", "1"}}}}));
}

TEST_F(IniParserTest, NamesTheOffendingLine)
{
    expectFailure("[s]\n\n   \n", "Line 3: Lines cannot start with whitespace unless it is just a newline character");
    expectFailure("[s]\n\tk=v\n", "Line 2: Lines cannot start with whitespace unless it is just a newline character");
    expectFailure("[ ]\n", "Line 1: Malformed section header (unable to find section name): '[ ]'");
    expectFailure("[]\n", "Line 1: Malformed section header (unable to find section name): '[]'");
    expectFailure("[  ]x]\n", "Line 1: Malformed section header (unable to find section name): '[  ]x]'");
    expectFailure("[ok]\n[name] \n", "Line 2: Malformed section header (doesn't end with ']'): '[name] '");
    expectFailure("[s]\n;comment\n", "Line 2: Malformed section entry (unable to find '=' symbol): ';comment'");
    expectFailure("# c\nk=v\n[s]\n",
                  "Line 2: Illegal INI format (no section has been defined to stick this key / value pair into): 'k=v'");
    expectFailure("[s]\n=v\n", "Line 2: Malformed section entry (unable to find key name before '=' symbol): '=v'");
    expectFailure("[s]\nk= \t\n", "Line 2: Malformed section entry (unable to find value after '=' symbol): 'k= \t'");
    expectFailure("[s]\r\n\r\nk\r\n", "Line 3: Malformed section entry (unable to find '=' symbol): 'k'");
}

TEST_F(IniParserTest, KeepsInnerBracketsAndTabsOfSectionNames)
{
    const ParseResult result = parse("[ a]b ]\n[\tx]\n");
    ASSERT_EQ(1, result.ok) << result.error.message;
    EXPECT_EQ(result.sections, (Sections{{"a]b", {}}, {"\tx", {}}}));
}

TEST_F(IniParserTest, ReportsFilesThatCannotBeRead)
{
    const std::string missing = (dir_ / "missing.ini").string();
    ParseResult result = parsePath(missing);
    EXPECT_EQ(0, result.ok);
    EXPECT_EQ(CV_ERROR_FAILED, result.error.code);
    EXPECT_EQ("Unable to open file '" + missing + "' for reading", result.error.message);

    // A directory opens but cannot be read.
    result = parsePath(dir_.string());
    EXPECT_EQ(0, result.ok);
    EXPECT_EQ("Unable to open file '" + dir_.string() + "' for reading", result.error.message);
}

TEST_F(IniParserTest, OverlongLinesCountAsOneLineAndAreCut)
{
    // A long comment whose tail holds '=' stays a comment.
    const std::string comment = "# " + std::string(1500, 'c') + "=tail";
    const std::string value(2000, 'v');
    const ParseResult result = parse("[s]\n" + comment + "\nlong=" + value + "\nk=v\n");
    ASSERT_EQ(1, result.ok) << result.error.message;
    ASSERT_EQ(1u, result.sections.size());
    const Entries& entries = result.sections[0].second;
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ("long", entries[0].first);
    EXPECT_EQ(std::string(255, 'v'), entries[0].second);  // a map value keeps 255 characters
    EXPECT_EQ((std::pair<std::string, std::string>{"k", "v"}), entries[1]);

    // Line numbers count physical lines.
    const ParseResult failed = parse("[s]\n#" + std::string(5000, 'x') + "\nbad\n");
    EXPECT_EQ(0, failed.ok);
    EXPECT_STREQ("Line 3: Malformed section entry (unable to find '=' symbol): 'bad'", failed.error.message);

    // A header longer than a line can be loses its ']'.
    const std::string header = "[" + std::string(1100, 'h') + "]";
    const ParseResult cutHeader = parse(header + "\n");
    EXPECT_EQ(0, cutHeader.ok);
    EXPECT_EQ(0, std::string(cutHeader.error.message).rfind("Line 1: Malformed section header (doesn't end with ']')", 0));
}

TEST_F(IniParserTest, NulBytesEndTheTextOfTheirLine)
{
    const ParseResult result = parse(std::string("[s]\nk=v\0=junk\n\0[t]\nx=1\n", 23));
    ASSERT_EQ(1, result.ok) << result.error.message;
    EXPECT_EQ(result.sections, (Sections{{"s", {{"k", "v"}, {"x", "1"}}}}));
}

}  // namespace
