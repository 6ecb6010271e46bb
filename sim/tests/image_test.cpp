// The firmware image format and its maker.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(Image, BuildAndVerifyRoundTrip) {
    auto image = makeImage("VT-20", "VT02", 1000, 512);
    EXPECT_EQ(image.size(), 1536u);  // header and payload padded to whole blocks
    ImageHeader header;
    ASSERT_EQ(parseImageHeader(image, header), ImageProblem::None);
    EXPECT_EQ(header.modelPrefix, "VT-20");
    EXPECT_EQ(header.revision, "VT02");
    EXPECT_EQ(header.payloadLength, 1000u);
    EXPECT_EQ(verifyImage(image, "VT-2000 Series", 8).revision, "VT02");
}

TEST(Image, EveryDefectHasItsVerdict) {
    auto image = makeImage("VT", "VT02", 1000, 1);
    auto verdict = [&](std::vector<uint8_t> bytes, std::string_view model = "VT-1", std::size_t width = 8) {
        return verifyImage(bytes, model, width).problem;
    };
    EXPECT_EQ(verdict(image), ImageProblem::None);
    EXPECT_EQ(verdict({image.begin(), image.begin() + 63}), ImageProblem::ShortHeader);
    EXPECT_EQ(verdict({image.begin(), image.end() - 1}), ImageProblem::Truncated);
    EXPECT_EQ(verdict(image, "KX-1"), ImageProblem::ForeignModel);
    EXPECT_EQ(verdict(image, "VT-1", 2), ImageProblem::RevisionTooLong);
    auto damaged = [&](std::size_t at) {
        auto copy = image;
        copy[at] ^= 0x01;
        return copy;
    };
    EXPECT_EQ(verdict(damaged(0)), ImageProblem::BadMagic);
    EXPECT_EQ(verdict(damaged(8)), ImageProblem::BadVersion);
    EXPECT_EQ(verdict(damaged(500)), ImageProblem::BadCrc);
    EXPECT_EQ(verdict(damaged(10)), ImageProblem::BadCrc);
    EXPECT_EQ(verdict(damaged(50)), ImageProblem::BadHeader);

    std::string error;
    EXPECT_TRUE(buildImage({"", "R", {}, 1}, error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(buildImage({"VT", "TOO-LONG-9", {}, 1}, error).empty());
}

TEST(Image, SimfwMakeWritesImagesDrivesAccept) {
    TempDir dir;
    std::string good = (dir.path() / "good.bin").string();
    std::string bad = (dir.path() / "bad.bin").string();
    std::string tool = SIMFW_MAKE_PATH;
    ASSERT_EQ(std::system((tool + " --prefix VT --revision VT03 --size 70000 " + good + " >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((tool + " --prefix VT --revision VT03 --size 70000 --corrupt " + bad + " >/dev/null").c_str()),
              0);
    EXPECT_EQ(std::system((tool + " --show " + good + " >/dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " --show " + bad + " >/dev/null 2>&1").c_str()), 0);
    EXPECT_NE(std::system((tool + " --prefix VT " + good + " >/dev/null 2>&1").c_str()), 0);  // no revision

    std::ifstream in(good, std::ios::binary);
    std::vector<uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(image.size() % 4096, 0u);
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    EXPECT_EQ(ataDownload(*drive, ata::kDmOffsetsSaveActivate, image, 64).registers.count, ata::kDmApplied);
    EXPECT_EQ(drive->identity().revision, "VT03");
}

}  // namespace
}  // namespace simdrive::test
