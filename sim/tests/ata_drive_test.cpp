// A simulated ATA drive driven through its taskfile.
#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(AtaDrive, IdentifyReportsTheWordsHostsRead) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto w = ataIdentify(*drive);
    EXPECT_EQ(ataText(w, 10, 10), "ATA0001");
    EXPECT_EQ(ataText(w, 23, 4), "VT01");
    EXPECT_EQ(ataText(w, 27, 20), "VT-2000 Series");
    EXPECT_EQ(w[60] | w[61] << 16, 0x0FFFFFFF);  // 28-bit capacity saturates
    EXPECT_EQ(uint64_t{w[100]} | uint64_t{w[101]} << 16 | uint64_t{w[102]} << 32, 500118192u);
    EXPECT_EQ(w[83] & 0xC401, 0x4401);  // valid, 48-bit, DOWNLOAD MICROCODE
    EXPECT_EQ(w[69] & 0x0100, 0);       // no DMA download without dma=yes
    EXPECT_EQ(w[234], 1);
    EXPECT_EQ(w[235], 64);
    // The host's OUI test: ((word 108 << 12) | (word 109 >> 4)) & 0xFFFFFF.
    EXPECT_EQ(w[108] >> 12, 5);
    EXPECT_EQ(((w[108] << 12) | (w[109] >> 4)) & 0xFFFFFF, 0x02A001);
    // Integrity word: signature A5h and a checksum that makes the bytes sum to zero.
    unsigned sum = 0;
    for (uint16_t word : w) sum += (word & 0xFF) + (word >> 8);
    EXPECT_EQ(w[255] & 0xFF, 0xA5);
    EXPECT_EQ(sum & 0xFF, 0u);
}

TEST(AtaDrive, SegmentedDownloadWithSaveActivatesTheNewRevision) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT-2000", "VT02", 100000);
    uint32_t total = static_cast<uint32_t>(image.size() / 512);
    for (uint32_t offset = 0; offset < total; offset += 64) {
        uint32_t blocks = std::min(64u, total - offset);
        AtaReply reply = ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, offset, blocks);
        ASSERT_EQ(reply.registers.status, ata::kStatusGood) << "segment at block " << offset;
        bool last = offset + blocks == total;
        EXPECT_EQ(reply.registers.count, last ? ata::kDmApplied : ata::kDmExpectingMore);
        EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), last ? "VT02" : "VT01");
    }
}

TEST(AtaDrive, DownloadRefusalsAbortAndDiscardThePartialImage) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT02", 60000);

    // A first segment that does not start at offset 0.
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 8, 8));

    // A gap after a good first segment; the partial image is gone afterwards.
    EXPECT_EQ(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 8).registers.status, ata::kStatusGood);
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 16, 8));
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 8, 8));

    // More blocks than word 235 allows.
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 65));

    // A block count of zero, and a continuation under another subcommand.
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 0));
    EXPECT_EQ(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 8).registers.status, ata::kStatusGood);
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsDeferred, image, 8, 8));

    // Obsolete and unknown subcommands.
    expectAtaAbort(ataSegment(*drive, 0x01, image, 0, 8));
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT01");
}

TEST(AtaDrive, OnlyTheLastSegmentMayBeShorterThanTheMinimum) {
    auto drive = makeDrive<AtaDrive>(std::string(kAtaVt) + "; min_download_blocks=4");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT03", 3000);  // 6 blocks: 4 + 2
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 2));
    EXPECT_EQ(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 0, 4).registers.count, ata::kDmExpectingMore);
    EXPECT_EQ(ataSegment(*drive, ata::kDmOffsetsSaveActivate, image, 4, 2).registers.count, ata::kDmApplied);
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT03");
}

TEST(AtaDrive, BadImagesAreRefusedWhenTheLastSegmentArrives) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto corrupt = makeImage("VT", "VT02", 40000);
    corrupt[kImageHeaderSize + 100] ^= 0x5A;
    AtaReply reply = ataDownload(*drive, ata::kDmOffsetsSaveActivate, corrupt, 16);
    expectAtaAbort(reply);

    auto foreign = makeImage("KX-9", "KX02", 4000);
    expectAtaAbort(ataDownload(*drive, ata::kDmOffsetsSaveActivate, foreign, 16));

    // Not an image at all: refused as soon as the header is in.
    std::vector<uint8_t> junk(4096, 0xAB);
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsSaveActivate, junk, 0, 8));
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT01");
}

TEST(AtaDrive, DeferredDownloadActivatesOnlyOnSubcommand0F) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    expectAtaAbort(ataActivate(*drive));  // nothing saved yet

    auto image = makeImage("VT", "VT05", 20000);
    AtaReply reply = ataDownload(*drive, ata::kDmOffsetsDeferred, image, 16);
    EXPECT_EQ(reply.registers.status, ata::kStatusGood);
    EXPECT_EQ(reply.registers.count, ata::kDmSavedDeferred);
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT01");

    reply = ataActivate(*drive);
    EXPECT_EQ(reply.registers.status, ata::kStatusGood);
    EXPECT_EQ(reply.registers.count, ata::kDmApplied);
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT05");
    expectAtaAbort(ataActivate(*drive));  // the saved image was used up
}

TEST(AtaDrive, DeferredSubcommandsAreAbortedWhenNotSupported) {
    auto drive = makeDrive<AtaDrive>(std::string(kAtaVt) + "; deferred_download=no");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT05", 2000);
    expectAtaAbort(ataSegment(*drive, ata::kDmOffsetsDeferred, image, 0, 4));
    expectAtaAbort(ataActivate(*drive));
}

TEST(AtaDrive, DmaDownloadNeedsDmaSupportAndTheDmaDataPhase) {
    auto image = makeImage("VT", "VT07", 8000);
    auto pio = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(pio);
    expectAtaAbort(ataSegment(*pio, ata::kDmOffsetsSaveActivate, image, 0, 8, true));

    auto dma = makeDrive<AtaDrive>(std::string(kAtaVt) + "; dma=yes");
    ASSERT_TRUE(dma);
    EXPECT_EQ(ataIdentify(*dma)[69] & 0x0100, 0x0100);
    // 0x93 with a PIO data phase is not how the command moves data.
    AtaInputs in;
    in.command = ata::kCmdDownloadMicrocodeDma;
    in.features = ata::kDmOffsetsSaveActivate;
    in.count = 8;
    std::vector<uint8_t> data(image.begin(), image.begin() + 4096);
    expectAtaAbort(ataCommand(*dma, in, AtaDataPhase::PioOut, data));

    EXPECT_EQ(ataDownload(*dma, ata::kDmOffsetsSaveActivate, image, 8, true).registers.count, ata::kDmApplied);
    EXPECT_EQ(ataText(ataIdentify(*dma), 23, 4), "VT07");
}

TEST(AtaDrive, WholeImageSubcommand07AndUnknownCommands) {
    auto drive = makeDrive<AtaDrive>(kAtaVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "VT08", 30000);
    // The whole image in one command; the 64-block segment limit does not apply.
    AtaReply reply = ataSegment(*drive, ata::kDmSaveActivate, image, 0, static_cast<uint32_t>(image.size() / 512));
    EXPECT_EQ(reply.registers.count, ata::kDmApplied);
    EXPECT_EQ(ataText(ataIdentify(*drive), 23, 4), "VT08");
    // Part of an image is not enough for 07h.
    expectAtaAbort(ataSegment(*drive, ata::kDmSaveActivate, image, 0, 8));

    AtaInputs nop;
    expectAtaAbort(ataCommand(*drive, nop));
    AtaInputs packet;
    packet.command = ata::kCmdIdentifyPacketDevice;
    std::vector<uint8_t> data(512);
    expectAtaAbort(ataCommand(*drive, packet, AtaDataPhase::PioIn, data));
    AtaInputs power;
    power.command = ata::kCmdCheckPowerMode;
    EXPECT_EQ(ataCommand(*drive, power).registers.count, 0xFF);
}

}  // namespace
}  // namespace simdrive::test
