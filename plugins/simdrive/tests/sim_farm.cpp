// The framework around the simulator plug-in, and block builders for tests.
#include "sim_farm.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "simdrive_hooks.h"

namespace simdrive_plugin_test {

namespace {

std::unique_ptr<CvUIDList> uidList() { return std::make_unique<CvUIDList>(); }

std::string trimmedText(const uint8_t* bytes, std::size_t length) {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Runs the "do command" function with the block and data; the block comes back
// with what the drive returned.
template <typename Block>
Block doCommand(const SimFarm& farm, const std::string& resource, Block block, std::span<uint8_t> data) {
    CvCommand cmd = command(DEVICE_FUNCTION_DO_COMMAND, &block, sizeof block, data.data(),
                            static_cast<uint32_t>(data.size()));
    CvError error{};
    EXPECT_EQ(1, farm.execute(resource, cmd, error)) << error.message;
    return block;
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cvpl-simdrive-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

SimFarm::SimFarm(const std::string& settings) {
    std::filesystem::path ini = directory_.path() / "farm.ini";
    {
        std::ofstream out(ini);
        out << "[Corvane]\nPlugins=cvpl-local,cvpl-simdrive\nConnections=cv-local://localhost\n\n"
            << "[cvpl-simdrive]\n"
            << settings << "\n";
    }
    CvInitialize();
    configured_ = CvHelper_ConfigureUsingINIFile(ini.c_str(), &configureError_) == 1;
    if (!configured_) return;
    auto machines = uidList();
    CvError error{};
    if (CvMachineManager_GetMachineList(machines.get(), &error) && machines->count > 0) machine_ = machines->uids[0];
}

SimFarm::~SimFarm() {
    CvError error{};
    EXPECT_EQ(1, CvUninitialize(&error)) << error.message;
}

std::vector<std::string> SimFarm::resourceNames() const {
    auto resources = uidList();
    CvError error{};
    std::vector<std::string> names;
    if (!CvMachine_GetResourceList(machine_, resources.get(), &error)) return names;
    for (int32_t i = 0; i < resources->count; ++i) {
        CvResourceInfo info{};
        if (CvResourceProxy_GetInfo(machine_, resources->uids[i], &info, &error)) names.emplace_back(info.name);
    }
    return names;
}

SimFarm::Path SimFarm::path(const std::string& resource) const {
    auto resources = uidList();
    auto services = uidList();
    CvError error{};
    Path found;
    if (!CvMachine_GetResourceList(machine_, resources.get(), &error)) return found;
    for (int32_t i = 0; i < resources->count; ++i) {
        CvResourceInfo info{};
        if (!CvResourceProxy_GetInfo(machine_, resources->uids[i], &info, &error) || resource != info.name) continue;
        found.resource = resources->uids[i];
        if (CvResourceProxy_GetServiceList(machine_, found.resource, services.get(), &error) && services->count == 1) {
            found.service = services->uids[0];
        }
    }
    return found;
}

std::string SimFarm::serviceType(const std::string& resource) const {
    Path found = path(resource);
    CvServiceInfo info{};
    CvError error{};
    if (found.service == CV_UID_NONE ||
        !CvResourceServiceProxy_GetInfo(machine_, found.resource, found.service, &info, &error)) {
        return {};
    }
    return info.type;
}

std::string SimFarm::description(const std::string& resource) const {
    CvResourceInfo info{};
    CvError error{};
    CvResourceProxy_GetInfo(machine_, path(resource).resource, &info, &error);
    return info.description;
}

int SimFarm::execute(const std::string& resource, CvCommand& command, CvError& error) const {
    Path found = path(resource);
    EXPECT_NE(found.service, CV_UID_NONE) << "no service on " << resource;
    return CvResourceServiceProxy_ExecuteCommand(machine_, found.resource, found.service, &command, &error);
}

int SimFarm::submit(const std::string& resource, CvCommand& command, CvError& error) const {
    Path found = path(resource);
    CvCommandCompletion completion{};
    return CvResourceServiceProxy_SubmitCommand(machine_, found.resource, found.service, &command, &completion,
                                                &error);
}

int SimFarm::abort(const std::string& resource, uint32_t tag, CvError& error) const {
    Path found = path(resource);
    return CvResourceServiceProxy_AbortCommand(machine_, found.resource, found.service, tag, &error);
}

void SimFarm::setFaults(const std::string& drive, const std::string& faults) const {
    void* plugin = ::dlopen(SIMDRIVE_PLUGIN_FILE, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(plugin, nullptr) << "cvpl-simdrive is not loaded";
    auto hook = reinterpret_cast<SimDrivePlugin_SetFaultsFunction>(::dlsym(plugin, SIMDRIVE_SET_FAULTS_SYMBOL));
    ASSERT_NE(hook, nullptr);
    CvError error{};
    EXPECT_EQ(1, hook(drive.c_str(), faults.c_str(), &error)) << error.message;
    ::dlclose(plugin);
}

std::vector<CvUID> registeredResources() {
    auto resources = uidList();
    CvError error{};
    EXPECT_EQ(1, CvResourceManager_GetResourceList(resources.get(), &error)) << error.message;
    return {resources->uids, resources->uids + std::max(resources->count, 0)};
}

std::vector<uint8_t> makeImage(const std::string& prefix, const std::string& revision, std::size_t payloadBytes,
                               std::size_t alignment) {
    std::string error;
    auto image = simdrive::buildImage({prefix, revision, simdrive::patternPayload(payloadBytes, 11), alignment}, error);
    EXPECT_FALSE(image.empty()) << error;
    return image;
}

// ---- ATA -------------------------------------------------------------------

AtaCommandBlock ataBlock(uint8_t protocol, uint8_t command, uint8_t features) {
    AtaCommandBlock block{};
    block.protocol = protocol;
    block.inputMask = ATA_REG_SET_28BIT;
    block.outputMask = ATA_REG_SET_28BIT;
    block.command = command;
    block.features = features;
    return block;
}

AtaCommandBlock ataDownloadBlock(uint8_t subcommand, uint32_t offsetBlocks, uint32_t blocks) {
    AtaCommandBlock block = ataBlock(ATA_PROTOCOL_PIO_OUT, 0x92, subcommand);
    block.count = static_cast<uint8_t>(blocks);
    block.lbaLow = static_cast<uint8_t>(blocks >> 8);
    block.lbaMid = static_cast<uint8_t>(offsetBlocks);
    block.lbaHigh = static_cast<uint8_t>(offsetBlocks >> 8);
    return block;
}

AtaCommandBlock ataCommand(const SimFarm& farm, const std::string& resource, AtaCommandBlock block,
                           std::span<uint8_t> data) {
    return doCommand(farm, resource, block, data);
}

std::string ataRevision(const SimFarm& farm, const std::string& resource) {
    std::vector<uint8_t> data(512);
    AtaCommandBlock block = ataCommand(farm, resource, ataBlock(ATA_PROTOCOL_PIO_IN, 0xEC), data);
    EXPECT_EQ(block.outStatus, 0x50);
    // Words 23 to 26, each word's bytes swapped.
    std::vector<uint8_t> text(8);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        text[i] = data[46 + i + 1];
        text[i + 1] = data[46 + i];
    }
    return trimmedText(text.data(), text.size());
}

AtaCommandBlock ataSegment(const SimFarm& farm, const std::string& resource, uint8_t subcommand,
                           std::span<const uint8_t> image, uint32_t offsetBlocks, uint32_t blocks) {
    std::size_t first = std::min<std::size_t>(std::size_t{offsetBlocks} * 512, image.size());
    std::size_t last = std::min<std::size_t>(std::size_t{offsetBlocks + blocks} * 512, image.size());
    std::vector<uint8_t> data(image.begin() + static_cast<std::ptrdiff_t>(first),
                              image.begin() + static_cast<std::ptrdiff_t>(last));
    data.resize(std::size_t{blocks} * 512);
    return ataCommand(farm, resource, ataDownloadBlock(subcommand, offsetBlocks, blocks), data);
}

AtaCommandBlock ataDownload(const SimFarm& farm, const std::string& resource, uint8_t subcommand,
                            std::span<const uint8_t> image, uint32_t segmentBlocks) {
    uint32_t total = static_cast<uint32_t>(image.size() / 512);
    AtaCommandBlock block{};
    for (uint32_t offset = 0; offset < total; offset += segmentBlocks) {
        block = ataSegment(farm, resource, subcommand, image, offset, std::min(segmentBlocks, total - offset));
        if (block.outStatus & 0x01) break;
    }
    return block;
}

AtaCommandBlock ataActivate(const SimFarm& farm, const std::string& resource) {
    return ataCommand(farm, resource, ataBlock(ATA_PROTOCOL_NON_DATA, 0x92, 0x0F));
}

// ---- SCSI ------------------------------------------------------------------

ScsiCommandBlock scsiBlock(std::vector<uint8_t> cdb, uint8_t direction) {
    ScsiCommandBlock block{};
    block.direction = direction;
    block.cdbLength = static_cast<uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), block.cdb);
    return block;
}

ScsiCommandBlock scsiCommand(const SimFarm& farm, const std::string& resource, ScsiCommandBlock block,
                             std::span<uint8_t> data) {
    return doCommand(farm, resource, block, data);
}

std::string scsiRevision(const SimFarm& farm, const std::string& resource) {
    std::vector<uint8_t> data(96);
    ScsiCommandBlock block = scsiCommand(farm, resource, scsiBlock({0x12, 0, 0, 0, 96, 0}, SCSI_DIRECTION_IN), data);
    EXPECT_EQ(block.status, 0);
    return trimmedText(data.data() + 32, 4);
}

ScsiCommandBlock scsiWriteBuffer(const SimFarm& farm, const std::string& resource, uint8_t mode,
                                 std::span<const uint8_t> image, uint32_t offset, uint32_t length) {
    std::vector<uint8_t> data(image.begin() + offset, image.begin() + offset + length);
    std::vector<uint8_t> cdb = {0x3B, mode, 0,
                                static_cast<uint8_t>(offset >> 16), static_cast<uint8_t>(offset >> 8),
                                static_cast<uint8_t>(offset), static_cast<uint8_t>(length >> 16),
                                static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0};
    return scsiCommand(farm, resource, scsiBlock(cdb, SCSI_DIRECTION_OUT), data);
}

ScsiCommandBlock scsiDownload(const SimFarm& farm, const std::string& resource, uint8_t mode,
                              std::span<const uint8_t> image, uint32_t segment) {
    ScsiCommandBlock block{};
    for (uint32_t offset = 0; offset < image.size(); offset += segment) {
        uint32_t length = std::min<uint32_t>(segment, static_cast<uint32_t>(image.size()) - offset);
        block = scsiWriteBuffer(farm, resource, mode, image, offset, length);
        if (block.status != 0) break;
    }
    return block;
}

void expectSense(const ScsiCommandBlock& block, uint8_t key, uint8_t asc, uint8_t ascq) {
    EXPECT_EQ(block.status, 0x02);
    EXPECT_EQ(block.senseLength, 18);
    EXPECT_EQ(block.sense[0], 0x70);
    EXPECT_EQ(block.sense[2] & 0x0F, key);
    EXPECT_EQ(block.sense[12], asc);
    EXPECT_EQ(block.sense[13], ascq);
}

// ---- NVMe ------------------------------------------------------------------

NvmeCommandBlock nvmeBlock(uint8_t opcode, uint32_t namespaceId, uint32_t cdw10, uint32_t cdw11) {
    NvmeCommandBlock block{};
    block.submission.opcode = opcode;
    block.submission.namespaceId = namespaceId;
    block.submission.cdw10 = cdw10;
    block.submission.cdw11 = cdw11;
    block.timeout = 60000000000ull;
    return block;
}

NvmeCommandBlock nvmeAdmin(const SimFarm& farm, const std::string& resource, NvmeCommandBlock block,
                           std::span<uint8_t> data) {
    CvCommand cmd = command(NVME_DEVICE_FUNCTION_ADMIN_COMMAND, &block, sizeof block, data.data(),
                            static_cast<uint32_t>(data.size()));
    CvError error{};
    EXPECT_EQ(1, farm.execute(resource, cmd, error)) << error.message;
    return block;
}

std::string nvmeRevision(const SimFarm& farm, const std::string& resource) {
    std::vector<uint8_t> data(4096);
    NvmeCommandBlock block = nvmeAdmin(farm, resource, nvmeBlock(0x06, 0, 1), data);
    EXPECT_EQ(nvmeStatus(block), 0);
    return trimmedText(data.data() + 64, 8);
}

NvmeCommandBlock nvmeDownload(const SimFarm& farm, const std::string& resource, std::span<const uint8_t> image,
                              uint32_t portion) {
    NvmeCommandBlock block{};
    for (uint32_t offset = 0; offset < image.size(); offset += portion) {
        uint32_t length = std::min<uint32_t>(portion, static_cast<uint32_t>(image.size()) - offset);
        std::vector<uint8_t> data(image.begin() + offset, image.begin() + offset + length);
        block = nvmeAdmin(farm, resource, nvmeBlock(0x11, 0, length / 4 - 1, offset / 4), data);
        if (nvmeStatus(block) != 0) break;
    }
    return block;
}

NvmeCommandBlock nvmeCommit(const SimFarm& farm, const std::string& resource, uint32_t slot, uint32_t action) {
    return nvmeAdmin(farm, resource, nvmeBlock(0x10, 0, action * 8 + slot));
}

}  // namespace simdrive_plugin_test
