// A simulated SCSI logical unit driven with CDBs.
#include "sim_test_support.h"

namespace simdrive::test {
namespace {

TEST(ScsiDrive, InquiryDataAndVitalProductPages) {
    auto drive = makeDrive<ScsiDrive>(kScsiVt);
    ASSERT_TRUE(drive);
    auto standard = scsiInquiry(*drive, false, 0, 96);
    ASSERT_EQ(standard.size(), 96u);
    EXPECT_EQ(std::string(standard.begin() + 8, standard.begin() + 16), "VT      ");
    EXPECT_EQ(std::string(standard.begin() + 16, standard.begin() + 32), "SAS-900         ");
    EXPECT_EQ(std::string(standard.begin() + 32, standard.begin() + 36), "V001");

    auto serial = scsiInquiry(*drive, true, 0x80, 64);
    EXPECT_EQ(serial[1], 0x80);
    EXPECT_EQ(std::string(serial.begin() + 4, serial.begin() + 24), "SAS0001             ");

    // The tool's WWN words: bytes 40-41 and 42-43 of page 83h, big-endian.
    auto ids = scsiInquiry(*drive, true, 0x83, 76);
    ASSERT_GE(ids.size(), 48u);
    EXPECT_EQ(ids[5] & 0x0F, 1);  // T10 vendor identification first
    EXPECT_EQ(ids[7], 28);
    EXPECT_EQ(ids[37] & 0x0F, 3);  // then NAA
    unsigned word0 = ids[40] << 8 | ids[41];
    unsigned word1 = ids[42] << 8 | ids[43];
    EXPECT_EQ(word0, 0x502Au);
    EXPECT_EQ(((word0 << 12) | (word1 >> 4)) & 0xFFFFFF, 0x02A002u);

    // A short allocation length cuts the data; unknown pages and stray page codes are refused.
    EXPECT_EQ(scsiInquiry(*drive, false, 0, 36).size(), 36u);
    std::vector<uint8_t> data(64);
    ScsiReply reply = scsiCommand(*drive, {scsi::kOpInquiry, 1, 0xB0, 0, 64, 0}, ScsiDataDirection::In, data);
    expectSense(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
    EXPECT_EQ(reply.sense[15], 0xC0);  // SKSV, in the CDB
    EXPECT_EQ(reply.sense[17], 2);     // byte 2, the page code
    reply = scsiCommand(*drive, {scsi::kOpInquiry, 0, 0x80, 0, 64, 0}, ScsiDataDirection::In, data);
    expectSense(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
}

TEST(ScsiDrive, WriteBufferMode0EThen0FActivatesAndAnnouncesNewMicrocode) {
    auto drive = makeDrive<ScsiDrive>(kScsiVt);
    ASSERT_TRUE(drive);
    // Nexus 1 has spoken to the unit before the update.
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}, {}, {}, 1).status, scsi::kStatusGood);

    auto image = makeImage("VT SAS", "V002", 40000);
    EXPECT_EQ(scsiDownload(*drive, scsi::kWbOffsetsDeferred, image, 16384).status, scsi::kStatusGood);
    EXPECT_EQ(scsiRevision(*drive), "V001");
    EXPECT_EQ(scsiCommand(*drive, writeBufferCdb(scsi::kWbActivateDeferred, 0, 0)).status, scsi::kStatusGood);
    EXPECT_EQ(scsiRevision(*drive), "V002");

    // The activating nexus is not told; nexus 1 is, once, and INQUIRY does not consume it.
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}).status, scsi::kStatusGood);
    std::vector<uint8_t> data(96);
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpInquiry, 0, 0, 0, 96, 0}, ScsiDataDirection::In, data, 1).status,
              scsi::kStatusGood);
    expectSense(scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}, {}, {}, 1), scsi::kKeyUnitAttention,
                scsi::kAscMicrocodeChanged);
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}, {}, {}, 1).status, scsi::kStatusGood);
}

TEST(ScsiDrive, RequestSenseReportsAndClearsThePendingUnitAttention) {
    auto drive = makeDrive<ScsiDrive>(kScsiVt);
    ASSERT_TRUE(drive);
    std::vector<uint8_t> sense(18);
    scsiCommand(*drive, {scsi::kOpRequestSense, 0, 0, 0, 18, 0}, ScsiDataDirection::In, sense, 2);
    EXPECT_EQ(sense[2], scsi::kKeyNoSense);
    auto image = makeImage("VT", "V003", 1000);
    EXPECT_EQ(scsiDownload(*drive, scsi::kWbOffsetsSaveActivate, image, 4096).status, scsi::kStatusGood);
    scsiCommand(*drive, {scsi::kOpRequestSense, 0, 0, 0, 18, 0}, ScsiDataDirection::In, sense, 2);
    EXPECT_EQ(sense[2], scsi::kKeyUnitAttention);
    EXPECT_EQ(sense[12], 0x3F);
    EXPECT_EQ(sense[13], 0x01);
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}, {}, {}, 2).status, scsi::kStatusGood);
}

// With the fault, the sender hears of new microcode too: deferred segments
// change nothing and raise nothing, their activation does, once.
TEST(ScsiDrive, UnitAttentionToSenderAfterActivation) {
    auto drive = makeDrive<ScsiDrive>(std::string(kScsiVt) + "; fault.unit_attention_to_sender=yes");
    ASSERT_TRUE(drive);
    auto testUnitReady = [&] { return scsiCommand(*drive, {scsi::kOpTestUnitReady, 0, 0, 0, 0, 0}); };
    EXPECT_EQ(scsiDownload(*drive, scsi::kWbOffsetsDeferred, makeImage("VT", "V008", 20000), 16384).status,
              scsi::kStatusGood);
    EXPECT_EQ(testUnitReady().status, scsi::kStatusGood);
    EXPECT_EQ(scsiCommand(*drive, writeBufferCdb(scsi::kWbActivateDeferred, 0, 0)).status, scsi::kStatusGood);
    expectSense(testUnitReady(), scsi::kKeyUnitAttention, scsi::kAscMicrocodeChangedWithoutReset);
    EXPECT_EQ(testUnitReady().status, scsi::kStatusGood);
}

TEST(ScsiDrive, Mode07ActivatesAfterTheLastSegmentAndMode05TakesOnePiece) {
    auto drive = makeDrive<ScsiDrive>(kScsiVt);
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "V004", 50000);
    EXPECT_EQ(scsiDownload(*drive, scsi::kWbOffsetsSaveActivate, image, 16384).status, scsi::kStatusGood);
    EXPECT_EQ(scsiRevision(*drive), "V004");

    auto next = makeImage("VT", "V005", 5000);
    uint32_t length = static_cast<uint32_t>(next.size());
    expectSense(scsiWriteBuffer(*drive, scsi::kWbDownloadSave, next, 0, 4096), scsi::kKeyIllegalRequest,
                scsi::kAscInvalidFieldInParameterList);  // not the whole image
    EXPECT_EQ(scsiWriteBuffer(*drive, scsi::kWbDownloadSave, next, 0, length).status, scsi::kStatusGood);
    EXPECT_EQ(scsiRevision(*drive), "V005");
}

TEST(ScsiDrive, WriteBufferRefusalsCarryIllegalRequestSense) {
    auto drive = makeDrive<ScsiDrive>(std::string(kScsiVt) + "; max_download_blocks=64");
    ASSERT_TRUE(drive);
    auto image = makeImage("VT", "V006", 60000);

    // Activation without a deferred image is a command sequence error.
    expectSense(scsiCommand(*drive, writeBufferCdb(scsi::kWbActivateDeferred, 0, 0)), scsi::kKeyIllegalRequest,
                scsi::kAscCommandSequenceError);

    // A gap in the offsets points at the buffer offset field.
    EXPECT_EQ(scsiWriteBuffer(*drive, scsi::kWbOffsetsSaveActivate, image, 0, 8192).status, scsi::kStatusGood);
    ScsiReply reply = scsiWriteBuffer(*drive, scsi::kWbOffsetsSaveActivate, image, 16384, 8192);
    expectSense(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
    EXPECT_EQ(reply.sense[17], 3);

    // More than the unit takes in one command points at the length field.
    reply = scsiWriteBuffer(*drive, scsi::kWbOffsetsSaveActivate, image, 0, 32768 + 512);
    expectSense(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
    EXPECT_EQ(reply.sense[17], 6);

    // An unknown mode points at bit 4 of byte 1.
    reply = scsiWriteBuffer(*drive, 0x02, image, 0, 512);
    expectSense(reply, scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
    EXPECT_EQ(reply.sense[15], 0xCC);
    EXPECT_EQ(reply.sense[17], 1);

    // A corrupt image is refused in the parameter list once complete.
    auto corrupt = image;
    corrupt[kImageHeaderSize + 7] ^= 1;
    expectSense(scsiDownload(*drive, scsi::kWbOffsetsSaveActivate, corrupt, 16384), scsi::kKeyIllegalRequest,
                scsi::kAscInvalidFieldInParameterList);
    // So is an image for another model.
    expectSense(scsiDownload(*drive, scsi::kWbOffsetsSaveActivate, makeImage("KY", "V009", 100), 16384),
                scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInParameterList);
    EXPECT_EQ(scsiRevision(*drive), "V001");
}

TEST(ScsiDrive, UnknownOpcodesAndMissingDataPhases) {
    auto drive = makeDrive<ScsiDrive>(kScsiVt);
    ASSERT_TRUE(drive);
    expectSense(scsiCommand(*drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}), scsi::kKeyIllegalRequest,
                scsi::kAscInvalidOpcode);
    expectSense(scsiCommand(*drive, {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}),
                scsi::kKeyIllegalRequest, scsi::kAscInvalidOpcode);
    // WRITE BUFFER whose data never comes.
    expectSense(scsiCommand(*drive, writeBufferCdb(scsi::kWbOffsetsSaveActivate, 0, 4096)),
                scsi::kKeyAbortedCommand, scsi::kAscDataPhaseError);

    std::vector<uint8_t> capacity(8);
    EXPECT_EQ(scsiCommand(*drive, {scsi::kOpReadCapacity10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ScsiDataDirection::In,
                          capacity)
                  .status,
              scsi::kStatusGood);
    EXPECT_EQ(capacity[6] << 8 | capacity[7], 512);
}

}  // namespace
}  // namespace simdrive::test
