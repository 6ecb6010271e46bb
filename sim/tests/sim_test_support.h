// Host-side helpers for driving simulated drives at the bus level in tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "simdrive/ata_drive.h"
#include "simdrive/firmware_image.h"
#include "simdrive/nvme_drive.h"
#include "simdrive/scsi_drive.h"

namespace simdrive::test {

template <typename Drive = SimDrive>
std::unique_ptr<Drive> makeDrive(const std::string& text, std::shared_ptr<const StateStore> store = nullptr) {
    DriveDescription description;
    DescriptionError problem;
    if (!parseDriveDescriptionText(text, description, problem)) {
        ADD_FAILURE() << problem.message();
        return nullptr;
    }
    std::string error;
    std::unique_ptr<SimDrive> drive = createDrive(description, std::move(store), error);
    if (!drive) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    auto* typed = dynamic_cast<Drive*>(drive.get());
    if (typed == nullptr) {
        ADD_FAILURE() << "description made another kind of drive";
        return nullptr;
    }
    drive.release();
    return std::unique_ptr<Drive>(typed);
}

inline std::vector<uint8_t> makeImage(const std::string& prefix, const std::string& revision,
                                      std::size_t payloadBytes, std::size_t alignment = 512) {
    std::string error;
    auto image = buildImage({prefix, revision, patternPayload(payloadBytes, 7), alignment}, error);
    EXPECT_FALSE(image.empty()) << error;
    return image;
}

// A fresh directory under the system's temporary directory, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "simdrive-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
        EXPECT_FALSE(path_.empty());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// ---- ATA ------------------------------------------------------------------

inline AtaReply ataCommand(AtaDrive& drive, AtaInputs registers, AtaDataPhase phase = AtaDataPhase::None,
                           std::span<uint8_t> data = {}) {
    AtaReply reply;
    AtaRequest request{registers, false, phase, data};
    EXPECT_EQ(drive.execute(request, reply), BusResult::Completed);
    return reply;
}

inline std::vector<uint16_t> ataIdentify(AtaDrive& drive) {
    std::vector<uint8_t> data(512);
    AtaInputs in;
    in.command = ata::kCmdIdentifyDevice;
    in.count = 1;
    AtaReply reply = ataCommand(drive, in, AtaDataPhase::PioIn, data);
    EXPECT_EQ(reply.registers.status, ata::kStatusGood);
    std::vector<uint16_t> words(256);
    for (std::size_t i = 0; i < 256; ++i) words[i] = static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8);
    return words;
}

// Byte-swapped, trimmed text of IDENTIFY words, as hosts read it.
inline std::string ataText(const std::vector<uint16_t>& words, std::size_t first, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += static_cast<char>(words[first + i] >> 8);
        text += static_cast<char>(words[first + i] & 0xFF);
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// One DOWNLOAD MICROCODE segment as hosts send it: block count in count and
// LBA low, block offset in LBA mid and LBA high.
inline AtaReply ataSegment(AtaDrive& drive, uint8_t subcommand, std::span<const uint8_t> image, uint32_t offsetBlocks,
                           uint32_t blocks, bool dma = false) {
    AtaInputs in;
    in.command = dma ? ata::kCmdDownloadMicrocodeDma : ata::kCmdDownloadMicrocode;
    in.features = subcommand;
    in.count = static_cast<uint8_t>(blocks);
    in.lbaLow = static_cast<uint8_t>(blocks >> 8);
    in.lbaMid = static_cast<uint8_t>(offsetBlocks);
    in.lbaHigh = static_cast<uint8_t>(offsetBlocks >> 8);
    std::vector<uint8_t> data(image.begin() + offsetBlocks * 512, image.begin() + (offsetBlocks + blocks) * 512);
    return ataCommand(drive, in, dma ? AtaDataPhase::DmaOut : AtaDataPhase::PioOut, data);
}

// Sends the whole image in segments of at most segmentBlocks; stops at the first refusal.
inline AtaReply ataDownload(AtaDrive& drive, uint8_t subcommand, std::span<const uint8_t> image,
                            uint32_t segmentBlocks, bool dma = false) {
    uint32_t total = static_cast<uint32_t>(image.size() / 512);
    AtaReply reply;
    for (uint32_t offset = 0; offset < total; offset += segmentBlocks) {
        reply = ataSegment(drive, subcommand, image, offset, std::min(segmentBlocks, total - offset), dma);
        if (reply.registers.status & ata::kStatusErr) break;
    }
    return reply;
}

inline AtaReply ataActivate(AtaDrive& drive) {
    AtaInputs in;
    in.command = ata::kCmdDownloadMicrocode;
    in.features = ata::kDmActivate;
    return ataCommand(drive, in);
}

inline void expectAtaAbort(const AtaReply& reply) {
    EXPECT_EQ(reply.registers.status, 0x51);
    EXPECT_EQ(reply.registers.error, 0x04);
}

// ---- SCSI -----------------------------------------------------------------

inline ScsiReply scsiCommand(ScsiDrive& drive, std::vector<uint8_t> cdb, ScsiDataDirection direction = ScsiDataDirection::None,
                             std::span<uint8_t> data = {}, uint32_t nexus = 0) {
    ScsiReply reply;
    EXPECT_EQ(drive.execute({nexus, cdb, direction, data}, reply), BusResult::Completed);
    return reply;
}

inline std::vector<uint8_t> scsiInquiry(ScsiDrive& drive, bool vpd, uint8_t page, uint16_t length) {
    std::vector<uint8_t> data(length);
    ScsiReply reply = scsiCommand(drive, {scsi::kOpInquiry, static_cast<uint8_t>(vpd ? 1 : 0), page,
                                          static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0},
                                  ScsiDataDirection::In, data);
    EXPECT_EQ(reply.status, scsi::kStatusGood);
    data.resize(reply.transferred);
    return data;
}

inline std::string scsiRevision(ScsiDrive& drive) {
    auto data = scsiInquiry(drive, false, 0, 96);
    return std::string(data.begin() + 32, data.begin() + 36);
}

inline std::vector<uint8_t> writeBufferCdb(uint8_t mode, uint32_t offset, uint32_t length) {
    return {scsi::kOpWriteBuffer, mode, 0,
            static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
            static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0};
}

inline ScsiReply scsiWriteBuffer(ScsiDrive& drive, uint8_t mode, std::span<const uint8_t> image, uint32_t offset,
                                 uint32_t length, uint32_t nexus = 0) {
    std::vector<uint8_t> data(image.begin() + offset, image.begin() + offset + length);
    return scsiCommand(drive, writeBufferCdb(mode, offset, length), ScsiDataDirection::Out, data, nexus);
}

inline ScsiReply scsiDownload(ScsiDrive& drive, uint8_t mode, std::span<const uint8_t> image, uint32_t segment) {
    ScsiReply reply;
    for (uint32_t offset = 0; offset < image.size(); offset += segment) {
        uint32_t length = std::min<uint32_t>(segment, static_cast<uint32_t>(image.size()) - offset);
        reply = scsiWriteBuffer(drive, mode, image, offset, length);
        if (reply.status != scsi::kStatusGood) break;
    }
    return reply;
}

inline void expectSense(const ScsiReply& reply, uint8_t key, uint16_t additionalSense) {
    EXPECT_EQ(reply.status, scsi::kStatusCheckCondition);
    EXPECT_EQ(reply.senseLength, 18);
    EXPECT_EQ(reply.sense[0], 0x70);
    EXPECT_EQ(reply.senseKey(), key);
    EXPECT_EQ(reply.additionalSense(), additionalSense);
}

// ---- NVMe -----------------------------------------------------------------

inline NvmeCompletion nvmeAdmin(NvmeDrive& drive, NvmeAdminCommand command, std::span<uint8_t> data = {}) {
    NvmeCompletion completion;
    EXPECT_EQ(drive.submitAdmin(command, data, completion), BusResult::Completed);
    return completion;
}

inline std::vector<uint8_t> nvmeIdentify(NvmeDrive& drive, uint8_t cns, uint32_t nsid) {
    std::vector<uint8_t> data(4096);
    NvmeCompletion completion = nvmeAdmin(drive, {nvme::kOpIdentify, nsid, cns}, data);
    EXPECT_EQ(completion.status, 0);
    return data;
}

inline std::string nvmeRevision(NvmeDrive& drive) {
    auto data = nvmeIdentify(drive, nvme::kCnsController, 0);
    std::string text(data.begin() + 64, data.begin() + 72);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

inline NvmeCompletion nvmeDownload(NvmeDrive& drive, std::span<const uint8_t> image, uint32_t segment) {
    NvmeCompletion completion;
    for (uint32_t offset = 0; offset < image.size(); offset += segment) {
        uint32_t length = std::min<uint32_t>(segment, static_cast<uint32_t>(image.size()) - offset);
        std::vector<uint8_t> data(image.begin() + offset, image.begin() + offset + length);
        completion = nvmeAdmin(drive, {nvme::kOpFirmwareImageDownload, 0, length / 4 - 1, offset / 4}, data);
        if (completion.status != 0) break;
    }
    return completion;
}

inline NvmeCompletion nvmeCommit(NvmeDrive& drive, uint32_t slot, uint32_t action) {
    return nvmeAdmin(drive, {nvme::kOpFirmwareCommit, 0, action << 3 | slot});
}

inline constexpr const char* kAtaVt =
    "kind=ata; model=VT-2000 Series; serial=ATA0001; revision=VT01; oui=0x02A001;"
    "capacity_blocks=500118192; max_download_blocks=64";
inline constexpr const char* kScsiVt =
    "kind=scsi; vendor=VT; product=SAS-900; serial=SAS0001; revision=V001; wwn=0x502A002123456789";
inline constexpr const char* kNvmeVt =
    "kind=nvme; model=VT NVMe 3000; serial=NVM0001; revision=NV01; oui=0x02A003; firmware_slots=3";

}  // namespace simdrive::test
