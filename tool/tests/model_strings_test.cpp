#include "fake_drives.h"
#include "model_strings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace firmstep {
namespace {

struct ModelFileRead {
    int result;
    std::string printed;
};

ModelFileRead ReadModelFile(const std::string& content, ModelTable& table)
{
    test::TempDir dir;
    const auto path = dir.path() / "models.txt";
    test::WriteFile(path, content);
    test::OutputCapture capture;
    const int result = ReadModelStringFileInto(path.c_str(), table);
    std::string printed = capture.Text();
    // Name the file "models.txt" in the expectations, whatever the directory.
    for (std::size_t at; (at = printed.find(path.string())) != std::string::npos;)
        printed.replace(at, path.string().size(), "models.txt");
    return {result, printed};
}

DriveIdentity Drive(const char* model, const char* revision)
{
    DriveIdentity identity{};
    std::strncpy(identity.model, model, kModelLength);
    std::strncpy(identity.firmwareRevision, revision, sizeof identity.firmwareRevision - 1);
    return identity;
}

TEST(ModelStringFile, ReportsBadLinesAndKeepsTheRest)
{
    auto table = std::make_unique<ModelTable>();
    const ModelFileRead read = ReadModelFile(
        "VT1000,A1,fw1.bin\n"
        "no commas here\n"
        "VT2000,A2\n"
        "VT3000,A3,\n"
        "VT4000, B4,fw4 with spaces.bin\r\n"
        "\n"
        "VT5000,A5,last,with,commas",
        *table);
    EXPECT_EQ(read.result, 3);
    EXPECT_EQ(read.printed,
              "ERROR: No commas in line 2 of Model String file 'models.txt'\n"
              "ERROR: No second comma in line 3 of Model String file 'models.txt'\n"
              "ERROR: No FW file name in line 4 of Model String file 'models.txt'\n"
              "ERROR: No commas in line 6 of Model String file 'models.txt'\n");
    ASSERT_EQ(table->count, 3u);
    EXPECT_STREQ(table->entries[0].model, "VT1000");
    EXPECT_STREQ(table->entries[0].firmwareRevision, "A1");
    EXPECT_STREQ(table->entries[0].firmwareFile, "fw1.bin");
    EXPECT_STREQ(table->entries[1].firmwareRevision, " B4");  // spaces are kept
    EXPECT_STREQ(table->entries[1].firmwareFile, "fw4 with spaces.bin");
    EXPECT_STREQ(table->entries[2].firmwareFile, "last,with,commas");
}

TEST(ModelStringFile, FieldsAreCutToTheirWidth)
{
    auto table = std::make_unique<ModelTable>();
    const std::string model(45, 'M');
    const std::string file(600, 'f');
    ASSERT_EQ(ReadModelFile(model + ",123456789AB," + file + "\n", *table).result, 1);
    EXPECT_EQ(std::string(table->entries[0].model), std::string(40, 'M'));
    EXPECT_STREQ(table->entries[0].firmwareRevision, "12345678");
    EXPECT_EQ(std::string(table->entries[0].firmwareFile), std::string(512, 'f'));
}

TEST(ModelStringFile, OverlongLinesAreReportedWhole)
{
    auto table = std::make_unique<ModelTable>();
    const std::string longLine = "VT9," + std::string(1000, 'r') + ",x," + std::string(100, 'y') + "\n";
    const ModelFileRead read = ReadModelFile(std::string("VT1,A,f\n") + longLine + "VT2,B,g\n", *table);
    EXPECT_EQ(read.result, 2);
    EXPECT_EQ(read.printed, "ERROR: Line 2 of Model String file 'models.txt' is longer than 1022 characters\n");
    // A line of exactly 1022 characters is still taken.
    const std::string fits = "VT3,C," + std::string(1016, 'z');
    ASSERT_EQ(fits.size(), 1022u);
    EXPECT_EQ(ReadModelFile(fits + "\n", *table).result, 1);
}

TEST(ModelStringFile, EntriesBeyondTheTableAreReported)
{
    auto table = std::make_unique<ModelTable>();
    std::string content;
    for (int i = 0; i < 258; ++i)
        content += "VT" + std::to_string(i) + ",R,f" + std::to_string(i) + "\n";
    const ModelFileRead read = ReadModelFile(content, *table);
    EXPECT_EQ(read.result, 256);
    EXPECT_EQ(read.printed,
              "ERROR: Line 257 of Model String file 'models.txt' is ignored; the file holds more than 256 entries\n"
              "ERROR: Line 258 of Model String file 'models.txt' is ignored; the file holds more than 256 entries\n");
    EXPECT_STREQ(table->entries[255].model, "VT255");
}

TEST(ModelStringFile, MissingFileAndEmptyFile)
{
    auto table = std::make_unique<ModelTable>();
    {
        test::OutputCapture capture;
        EXPECT_EQ(ReadModelStringFileInto("/nonexistent/models.txt", *table), -1);
        EXPECT_EQ(capture.Text(), "ERROR: Cannot open Model String file '/nonexistent/models.txt'\n");
    }
    EXPECT_EQ(ReadModelFile("", *table).result, 0);
}

TEST(ModelStringFile, FirstEntryWithAnotherRevisionWins)
{
    auto table = std::make_unique<ModelTable>();
    ASSERT_EQ(ReadModelFile("VT1000,A1,first.bin\n"
                            "VT1000,A2,second.bin\n"
                            "VT2000, A1,spaced.bin\n",
                            *table)
                  .result,
              3);
    // The drive already runs A1: the first line does not apply, the second does.
    const ModelEntry* entry = FindModelEntry(*table, Drive("VT1000", "A1"));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->firmwareFile, "second.bin");
    entry = FindModelEntry(*table, Drive("VT1000", "B7"));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->firmwareFile, "first.bin");
    // A revision written with a leading space never equals the drive's.
    entry = FindModelEntry(*table, Drive("VT2000", "A1"));
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->firmwareFile, "spaced.bin");
    EXPECT_EQ(FindModelEntry(*table, Drive("VT3000", "A1")), nullptr);
    ASSERT_EQ(ReadModelFile("VT1000,A1,first.bin\n", *table).result, 1);
    EXPECT_EQ(FindModelEntry(*table, Drive("VT1000", "A1")), nullptr);  // already at the listed revision
    EXPECT_EQ(FindModelEntry(*table, Drive("VT100", "A9")), nullptr);  // whole model, not a prefix
}

}  // namespace
}  // namespace firmstep
