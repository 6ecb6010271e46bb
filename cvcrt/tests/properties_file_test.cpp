#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "map_ptr.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class PropertiesFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "cvcrt-props-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "test.properties").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary);
        out << bytes;
    }

    std::string Read() {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Loads the file into `map`; the message is kept in message_.
    int Load(StringMap* map) {
        return StringMap_AddFromPropertiesFile(map, path_.c_str(), message_, sizeof message_);
    }

    std::string Located(int line, const std::string& text) { return path_ + ":" + std::to_string(line) + " - " + text + "\n"; }

    static Strings Entries(const StringMap* map) {
        Strings entries;
        for (int32_t i = 0; i < StringMap_GetSize(map); ++i)
            entries.push_back(std::string(StringMap_GetEntryKey(map, i)) + "=" + StringMap_GetEntryValue(map, i));
        return entries;
    }

    fs::path dir_;
    std::string path_;
    char message_[512] = "stale";
    StringMapPtr map_{StringMap_Create()};
};

TEST_F(PropertiesFile, TrimsOuterBlanksAndComments) {
    Write("# header\n\n  Key Name \t=  some value\t# note\r\n=a = b\nx=y=z\r\n");
    ASSERT_EQ(Load(map_.get()), 0);
    EXPECT_STREQ(message_, "");
    EXPECT_EQ(Entries(map_.get()), (Strings{"Key Name=some value", "=a=b", "x=y=z"}));
}

TEST_F(PropertiesFile, MalformedLinesFailTheWholeLoad) {
    StringMap_SetValue(map_.get(), "kept", "1");
    const struct {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"a=1\nno equals here\n", 2, "Unable to find the equals sign seperating the key and the value"},
        {"a=1\n   \n", 2, "Unable to find the beginning of the key"},
        {"a=1\n  # blanks before a comment\n", 2, "Unable to find the beginning of the key"},
        {"a=1\nb =  # nothing\n", 2, "Unable to find the beginning of the value"},
        {"a=1\nb = 2\nA = 3\n", 3, "StringMapuration already has the key 'A'"},
    };
    for (const auto& c : cases) {
        Write(c.text);
        EXPECT_EQ(Load(map_.get()), -1) << c.text;
        EXPECT_EQ(message_, Located(c.line, c.message)) << c.text;
        EXPECT_EQ(Entries(map_.get()), Strings{"kept=1"}) << c.text;
    }
}

TEST_F(PropertiesFile, ConfigNamesItsFamilyInTheDuplicateMessage) {
    Write("Port = 1\nPORT = 2\n");
    ConfigPtr config(ConfigCreate());
    EXPECT_EQ(ConfigAddFromPropertiesFile(config.get(), path_.c_str(), message_, sizeof message_), -1);
    EXPECT_EQ(message_, Located(2, "Configuration already has the key 'PORT'"));
    EXPECT_EQ(ConfigGetEntryCount(config.get()), 0);
}

TEST_F(PropertiesFile, UnopenableFileIsReported) {
    const std::string missing = (dir_ / "missing").string();
    EXPECT_EQ(StringMap_AddFromPropertiesFile(map_.get(), missing.c_str(), message_, sizeof message_), -1);
    EXPECT_EQ(message_, "Unable to open file '" + missing + "' for reading config information\n");
    // A zero length leaves the buffer alone; a short one gets a cut, terminated message.
    EXPECT_EQ(StringMap_AddFromPropertiesFile(map_.get(), missing.c_str(), message_, 0), -1);
    EXPECT_EQ(message_, "Unable to open file '" + missing + "' for reading config information\n");
    EXPECT_EQ(StringMap_AddFromPropertiesFile(map_.get(), missing.c_str(), message_, 7), -1);
    EXPECT_STREQ(message_, "Unable");
}

TEST_F(PropertiesFile, TextThatWouldBeCutIsRefused) {
    Write("k = " + std::string(255, 'v') + "\n" + std::string(255, 'k') + " = v\n");
    ASSERT_EQ(Load(map_.get()), 0);
    EXPECT_EQ(std::string(StringMap_GetValue(map_.get(), "k")), std::string(255, 'v'));

    Write("a = 1\nk = " + std::string(256, 'v') + "\n");
    EXPECT_EQ(Load(map_.get()), -1);
    EXPECT_EQ(message_, Located(2, "'Value' value too long, max is 255 chars"));

    Write(std::string(256, 'k') + " = v\n");
    EXPECT_EQ(Load(map_.get()), -1);
    EXPECT_EQ(message_, Located(1, "'Key' value too long, max is 255 chars"));

    ConfigPtr config(ConfigCreate());
    Write(std::string(128, 'k') + " = v\n");
    EXPECT_EQ(ConfigAddFromPropertiesFile(config.get(), path_.c_str(), message_, sizeof message_), -1);
    EXPECT_EQ(message_, Located(1, "'Key' value too long, max is 127 chars"));
}

TEST_F(PropertiesFile, LongLinesStayWhole) {
    // A comment far longer than any read buffer is still one comment line.
    Write("#" + std::string(3000, 'x') + " a = b\nc = d\n");
    ASSERT_EQ(Load(map_.get()), 0);
    EXPECT_EQ(Entries(map_.get()), Strings{"c=d"});

    Write("c = d\n" + std::string(70000, ' ') + "\n");
    EXPECT_EQ(Load(map_.get()), -1);
    EXPECT_EQ(message_, Located(2, "Error reading line"));
}

TEST_F(PropertiesFile, NulByteEndsTheLine) {
    Write(std::string("a = b\0c = d\ne = f\n", 18));
    ASSERT_EQ(Load(map_.get()), 0);
    EXPECT_EQ(Entries(map_.get()), (Strings{"a=b", "e=f"}));
}

TEST_F(PropertiesFile, ExistingKeysKeepTheirValueAndPlace) {
    StringMap_SetValue(map_.get(), "first", "0");
    StringMap_SetValue(map_.get(), "Shared", "old");
    Write("new1 = 1\nSHARED = new\nnew2 = 2\n");
    ASSERT_EQ(Load(map_.get()), 0);
    EXPECT_EQ(Entries(map_.get()), (Strings{"first=0", "Shared=old", "new1=1", "new2=2"}));
}

TEST_F(PropertiesFile, WriterOutputReadsBack) {
    StringMap_SetValue(map_.get(), "Host Name", "drive lab 3");
    StringMap_SetValue(map_.get(), "port", "15585");
    ASSERT_EQ(StringMap_SaveToPropertiesFile(map_.get(), path_.c_str(), message_, sizeof message_), 0);
    EXPECT_EQ(Read(), "Host Name = drive lab 3\nport = 15585\n");
    StringMapPtr loaded(StringMap_Create());
    ASSERT_EQ(Load(loaded.get()), 0);
    EXPECT_EQ(Entries(loaded.get()), Entries(map_.get()));
}

TEST_F(PropertiesFile, WriterRefusesEntriesThatWouldNotReadBack) {
    Write("untouched");
    for (const auto& [key, value] : {std::pair{"empty", ""}, {"hash", "a#b"}, {"a=b", "c"}, {"pad", " x"}}) {
        StringMapPtr map(StringMap_Create());
        StringMap_SetValue(map.get(), key, value);
        EXPECT_EQ(StringMap_SaveToPropertiesFile(map.get(), path_.c_str(), message_, sizeof message_), -1) << key;
        EXPECT_EQ(message_, "Unable to save the key '" + std::string(key) + "' to '" + path_ + "', it would not read back\n");
    }
    EXPECT_EQ(Read(), "untouched");

    const std::string noDir = (dir_ / "no" / "such.properties").string();
    EXPECT_EQ(StringMap_SaveToPropertiesFile(map_.get(), noDir.c_str(), message_, sizeof message_), -1);
    EXPECT_EQ(message_, "Unable to open '" + noDir + "' to save the configuration\n");
}

}  // namespace
