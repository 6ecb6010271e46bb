// The report's pieces that the end-to-end runs cannot reach: drive texts that
// are not UTF-8, and the file's replacement and mode.
#include "report_file.h"
#include "report_json.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <iterator>

namespace firmstep::test {
namespace {

// A drive may answer with any bytes; the report must still be written, with
// the bytes that are not UTF-8 replaced.
TEST(ReportDocument, TextThatIsNotUtf8IsReplacedNotFatal)
{
    RunReport report;
    report.commandLine = {"firmstep"};
    DriveRecord drive;
    drive.model = "VT\xff\xfe Series";
    drive.serialNumber = "SN\x80";
    report.drives.push_back(drive);
    std::string text;
    ASSERT_NO_THROW(text = ReportText(ReportDocument(report, RunEnd{})));
    const auto parsed = nlohmann::json::parse(text);
    EXPECT_EQ(parsed["drives"][0]["model"], "VT\xef\xbf\xbd\xef\xbf\xbd Series");
    EXPECT_EQ(parsed["drives"][0]["serialNumber"], "SN\xef\xbf\xbd");
}

// The new text replaces the old file whole, with the mode a new file of the
// process gets (not the owner-only mode of the temporary file), and nothing
// is left beside it; a file that is never committed leaves no trace.
TEST(ReportFile, CommitReplacesTheFileAndLeavesNothingBehind)
{
    TempDir dir;
    const std::string path = (dir.path() / "r.json").string();
    WriteFile(path, "old report");
    const mode_t previous = ::umask(022);
    {
        ReportFile file;
        std::string reason;
        ASSERT_TRUE(file.Prepare(path, reason)) << reason;
        EXPECT_EQ(ReadFile(path), "old report");
        ASSERT_TRUE(file.Commit("{}\n", reason)) << reason;
    }
    {
        ReportFile abandoned;
        std::string reason;
        ASSERT_TRUE(abandoned.Prepare((dir.path() / "other.json").string(), reason)) << reason;
    }
    ::umask(previous);
    EXPECT_EQ(ReadFile(path), "{}\n");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator{}), 1);

    ReportFile intoDirectory;
    std::string reason;
    EXPECT_FALSE(intoDirectory.Prepare(dir.path().string(), reason));
}

}  // namespace
}  // namespace firmstep::test
