// Error records, identifiers, the version text and the shared allocator.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "log_capture.h"

namespace {

using corvane_test::LogCapture;
using corvane_test::LogLine;

TEST(ErrorRecord, KeepsLow8BitsOfCodeAnd254CharactersOfMessage)
{
    CvError error;
    std::memset(&error, 'x', sizeof error);
    const std::string longText(400, 'm');
    EXPECT_EQ(0, CvSetThreadError(&error, 300, "%s", longText.c_str()));
    EXPECT_EQ(44, error.code);
    EXPECT_EQ(std::string(254, 'm'), error.message);
    EXPECT_EQ('\0', error.message[254]);

    EXPECT_EQ(0, CvSetError(&error, 4, "bad %d", 7));
    EXPECT_EQ(4, error.code);
    EXPECT_STREQ("bad 7", error.message);

    EXPECT_EQ(1, CvSetNoThreadError(&error));
    EXPECT_EQ(0, error.code);
    EXPECT_STREQ("", error.message);
    EXPECT_EQ(1, CvSetNoError(&error));
}

TEST(ErrorRecord, LogThreadErrorNamesTheCode)
{
    CvLogEventManager_Initialize();
    {
        LogCapture log;
        CvError error;
        CvSetNoThreadError(&error);
        CvLogThreadError(3, &error);
        CvSetThreadError(&error, 4, "parameter %d", 2);
        CvLogThreadError(1, &error);
        CvSetThreadError(&error, 300, "odd");
        CvLogThreadError(2, &error);
        CvSetThreadError(&error, -3, "negative");
        CvLogThreadError(2, &error);
        for (int code = 1; code <= 5; ++code) {
            CvSetThreadError(&error, code, "m");
            CvLogThreadError(4, &error);
        }
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                                   {3, "No error: "},
                                   {1, "Invalid input: parameter 2"},
                                   {2, "Unknown error code: odd"},
                                   {2, "Unknown error code: negative"},
                                   {4, "Internal error: m"},
                                   {4, "Operation failed: m"},
                                   {4, "Not supported: m"},
                                   {4, "Invalid input: m"},
                                   {4, "Entity not found: m"},
                               }));
    }
    CvLogEventManager_Uninitialize();
}

TEST(Version, IsTheFrameworkRelease) { EXPECT_STREQ("1.12.4.0", CvGetVersion()); }

TEST(Identifiers, FollowOneSequence)
{
    const CvUID first = CvNextUID();
    EXPECT_EQ(first + 1, CvNextUID());
    EXPECT_EQ(first + 2, CvNextUID());
}

TEST(Memory, AllocatesZeroFilledAndRefusesNegativeSizes)
{
    EXPECT_EQ(nullptr, CvAlloc(-1));
    EXPECT_EQ(nullptr, CvAllocWithoutClear(-5));
    auto* bytes = static_cast<unsigned char*>(CvAlloc(64));
    ASSERT_NE(nullptr, bytes);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(0, bytes[i]);
    CvFree(bytes);
    void* empty = CvAlloc(0);
    EXPECT_NE(nullptr, empty);
    CvFree(empty);
    CvFree(nullptr);

    char* copy = CvStrDup("cv-local");
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("cv-local", copy);
    CvFree(copy);
    EXPECT_EQ(nullptr, CvStrDup(nullptr));
}

}  // namespace
