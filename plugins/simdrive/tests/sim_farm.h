// A framework configured from an INI file that loads cvpl-local and
// cvpl-simdrive and connects cv-local://localhost, with helpers that build the
// device blocks and execute them through the machine's proxy functions.
#pragma once

#include <corvane.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "device_contracts.h"
#include "simdrive/firmware_image.h"

namespace simdrive_plugin_test {

// A fresh directory under the system's temporary directory, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Starts the framework and configures it with the given [cvpl-simdrive]
// section body; CvUninitialize when it goes.
class SimFarm {
public:
    explicit SimFarm(const std::string& settings);
    ~SimFarm();
    SimFarm(const SimFarm&) = delete;
    SimFarm& operator=(const SimFarm&) = delete;

    bool configured() const { return configured_; }
    const CvError& configureError() const { return configureError_; }
    CvUID machine() const { return machine_; }

    // Resource names as the machine lists them.
    std::vector<std::string> resourceNames() const;
    // The service type on a resource ("" when it has none).
    std::string serviceType(const std::string& resource) const;
    std::string description(const std::string& resource) const;

    // Executes on the only service of the named resource.
    int execute(const std::string& resource, CvCommand& command, CvError& error) const;
    int submit(const std::string& resource, CvCommand& command, CvError& error) const;
    int abort(const std::string& resource, uint32_t tag, CvError& error) const;

    // The plug-in's fault hook; ADD_FAILURE when it refuses.
    void setFaults(const std::string& drive, const std::string& faults) const;

private:
    struct Path {
        CvUID resource = CV_UID_NONE;
        CvUID service = CV_UID_NONE;
    };
    Path path(const std::string& resource) const;

    TempDir directory_;
    bool configured_ = false;
    CvError configureError_{};
    CvUID machine_ = CV_UID_NONE;
};

// The list of resources registered in this process (not through a machine).
std::vector<CvUID> registeredResources();

inline CvCommand command(uint8_t function, void* block, uint32_t blockLength, void* data = nullptr,
                         uint32_t dataLength = 0) {
    CvCommand result{};
    result.function = function;
    result.tag = CV_COMMAND_TAG_NONE;
    result.buffers[0] = block;
    result.bufferLengths[0] = blockLength;
    result.buffers[1] = data;
    result.bufferLengths[1] = dataLength;
    return result;
}

std::vector<uint8_t> makeImage(const std::string& prefix, const std::string& revision, std::size_t payloadBytes,
                               std::size_t alignment = 512);

// ---- ATA -------------------------------------------------------------------

// A 28-bit block with every register written and every register wanted.
AtaCommandBlock ataBlock(uint8_t protocol, uint8_t command, uint8_t features = 0);
// A DOWNLOAD MICROCODE block as hosts send it: block count in count and LBA
// low, block offset in LBA mid and LBA high.
AtaCommandBlock ataDownloadBlock(uint8_t subcommand, uint32_t offsetBlocks, uint32_t blocks);

// Executes 'do ata command'; ADD_FAILURE unless the call succeeds.
AtaCommandBlock ataCommand(const SimFarm& farm, const std::string& resource, AtaCommandBlock block,
                           std::span<uint8_t> data = {});
std::string ataRevision(const SimFarm& farm, const std::string& resource);
// One segment of an image; the block count decides the data length.
AtaCommandBlock ataSegment(const SimFarm& farm, const std::string& resource, uint8_t subcommand,
                           std::span<const uint8_t> image, uint32_t offsetBlocks, uint32_t blocks);
// Every segment in order; stops at the first refusal and returns its block.
AtaCommandBlock ataDownload(const SimFarm& farm, const std::string& resource, uint8_t subcommand,
                            std::span<const uint8_t> image, uint32_t segmentBlocks);
AtaCommandBlock ataActivate(const SimFarm& farm, const std::string& resource);

// ---- SCSI ------------------------------------------------------------------

ScsiCommandBlock scsiBlock(std::vector<uint8_t> cdb, uint8_t direction);
ScsiCommandBlock scsiCommand(const SimFarm& farm, const std::string& resource, ScsiCommandBlock block,
                             std::span<uint8_t> data = {});
std::string scsiRevision(const SimFarm& farm, const std::string& resource);
ScsiCommandBlock scsiWriteBuffer(const SimFarm& farm, const std::string& resource, uint8_t mode,
                                 std::span<const uint8_t> image, uint32_t offset, uint32_t length);
ScsiCommandBlock scsiDownload(const SimFarm& farm, const std::string& resource, uint8_t mode,
                              std::span<const uint8_t> image, uint32_t segment);
// Fixed-format sense: response code, key, ASC and ASCQ.
void expectSense(const ScsiCommandBlock& block, uint8_t key, uint8_t asc, uint8_t ascq);

// ---- NVMe ------------------------------------------------------------------

NvmeCommandBlock nvmeBlock(uint8_t opcode, uint32_t namespaceId, uint32_t cdw10, uint32_t cdw11 = 0);
NvmeCommandBlock nvmeAdmin(const SimFarm& farm, const std::string& resource, NvmeCommandBlock block,
                           std::span<uint8_t> data = {});
std::string nvmeRevision(const SimFarm& farm, const std::string& resource);
// Firmware Image Download in portions; returns the first failed completion or the last.
NvmeCommandBlock nvmeDownload(const SimFarm& farm, const std::string& resource, std::span<const uint8_t> image,
                              uint32_t portion);
NvmeCommandBlock nvmeCommit(const SimFarm& farm, const std::string& resource, uint32_t slot, uint32_t action);
// The status without the phase tag.
inline uint16_t nvmeStatus(const NvmeCommandBlock& block) { return block.completion.statusField >> 1; }

}  // namespace simdrive_plugin_test
