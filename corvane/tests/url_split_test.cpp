// Machine URLs and splitting text into lists and maps.
#include <corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct UrlCase {
    const char* url;
    int result;
    const char* output;
};

template <class Extract>
void ExpectUrl(Extract extract, const std::vector<UrlCase>& cases)
{
    for (const UrlCase& c : cases) {
        char output[256];
        std::memset(output, 'x', sizeof output);
        EXPECT_EQ(c.result, extract(c.url, output, static_cast<int>(sizeof output))) << c.url;
        EXPECT_STREQ(c.output, output) << c.url;
    }
}

TEST(Url, ExtractsProtocol)
{
    ExpectUrl(CvUtil_URLExtractProtocol, {
                                             {"cv-local://localhost", 1, "cv-local"},
                                             {"CV-TCPIP://10.0.0.1/x", 1, "CV-TCPIP"},
                                             {":rest", 1, ""},
                                             {"no-colon", 0, ""},
                                         });
    char small[4];
    EXPECT_EQ(1, CvUtil_URLExtractProtocol("cv-local://localhost", small, 4));
    EXPECT_STREQ("cv-", small);
}

TEST(Url, ExtractsHost)
{
    ExpectUrl(CvUtil_URLExtractHost, {
                                         {"cv-tcpip://server:15585/disk", 1, "server:15585"},
                                         {"cv-local://localhost", 1, "localhost"},
                                         {"a://", 1, ""},
                                         {"a:/", 0, ""},
                                         {"a:", 0, ""},
                                         {"a:/x/y", 0, ""},
                                         {"nothing", 0, ""},
                                     });
}

TEST(Url, ExtractsResource)
{
    ExpectUrl(CvUtil_URLExtractResource, {
                                             {"cv-tcpip://server/disk/0", 1, "disk/0"},
                                             {"cv-tcpip://server/", 1, ""},
                                             {"cv-tcpip://server", 0, ""},
                                             {"a:/server/x", 0, ""},
                                         });
}

TEST(Url, WritesNothingIntoAnEmptyBuffer)
{
    char guard[2] = {'g', 'g'};
    EXPECT_EQ(1, CvUtil_URLExtractProtocol("cv-local://h", guard, 0));
    EXPECT_EQ(1, CvUtil_URLExtractHost("cv-local://h", guard, -1));
    EXPECT_EQ('g', guard[0]);
    EXPECT_EQ(0, CvUtil_URLExtractHost(nullptr, guard, 2));
    EXPECT_STREQ("", guard);
}

std::vector<std::string> TakeList(ArrayList* list)
{
    std::vector<std::string> items;
    for (int32_t i = 0; i < ArrayList_GetSize(list); ++i) items.emplace_back(static_cast<char*>(ArrayList_Get(list, i)));
    CvUtil_DestroyListAndData(list);
    return items;
}

std::vector<std::string> Split(const char* text, char separator)
{
    ArrayList* list = ArrayList_Create();
    CvUtil_SplitStringIntoList(text, separator, list);
    return TakeList(list);
}

std::vector<std::string> Tokens(const char* text)
{
    ArrayList* list = ArrayList_Create();
    CvUtil_SplitStringIntoListUsingWhitespaceAndQuotes(text, list);
    return TakeList(list);
}

using Strings = std::vector<std::string>;

TEST(Split, DropsEmptyPiecesAndKeepsBlanks)
{
    EXPECT_EQ(Split(",a,,b,", ','), (Strings{"a", "b"}));
    EXPECT_EQ(Split("a, b", ','), (Strings{"a", " b"}));
    EXPECT_EQ(Split("cvpl-local", ','), (Strings{"cvpl-local"}));
    EXPECT_EQ(Split("", ','), Strings{});
    EXPECT_EQ(Split(",,,", ','), Strings{});
}

TEST(Split, TokensHonourQuotes)
{
    EXPECT_EQ(Tokens("ab\"cd ef\"gh"), (Strings{"ab", "cd ef", "gh"}));
    EXPECT_EQ(Tokens(" one\ttwo\nthree  "), (Strings{"one", "two", "three"}));
    EXPECT_EQ(Tokens("a \"\" b"), (Strings{"a", "b"}));
    EXPECT_EQ(Tokens("x \"open quote  runs"), (Strings{"x", "open quote  runs"}));
}

TEST(Split, PairsGoIntoTheMapFirstValueKept)
{
    StringMap* map = StringMap_Create();
    CvUtil_SplitStringIntoPair("Port=15585", '=', map);
    CvUtil_SplitStringIntoPair("empty=", '=', map);
    CvUtil_SplitStringIntoPair("a = b=c", '=', map);
    CvUtil_SplitStringIntoPair("bare", '=', map);
    EXPECT_STREQ("15585", StringMap_GetValue(map, "port"));
    EXPECT_STREQ("", StringMap_GetValue(map, "empty"));
    EXPECT_STREQ(" b=c", StringMap_GetValue(map, "a "));
    EXPECT_STREQ("", StringMap_GetValue(map, "bare"));

    CvUtil_SplitStringIntoPairs(";x=1;;y=2;x=3", ';', '=', map);
    EXPECT_STREQ("1", StringMap_GetValue(map, "x"));
    EXPECT_STREQ("2", StringMap_GetValue(map, "y"));
    EXPECT_EQ(6, StringMap_GetSize(map));
    StringMap_Destroy(map);
}

}  // namespace
