// cvpl-nvme against the simulated kernel: namespaces get "nvme/device", admin
// commands and resets reach the controller, commands the kernel abandoned,
// the admin transfer limit, and the contract's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "device/nvme_device.h"
#include "nvme_path.h"
#include "passthrough_fixture.h"
#include "sim_test_support.h"

namespace {

using passthrough_test::PassThroughTest;
using simdrive::NvmeDrive;

class NvmePluginTest : public PassThroughTest {
protected:
    void SetUp() override {
        PassThroughTest::SetUp();
        drive_ = addDrive<NvmeDrive>("/dev/nvme0", simdrive::test::kNvmeVt);
        addDrive<simdrive::AtaDrive>("/dev/sda", simdrive::test::kAtaVt);
        namespace_ = &publish("/dev/nvme0n1");
        ataDisk_ = &publish("/dev/sda");
        loadPlugin("cvpl-nvme");
        service_ = serviceOf(namespace_->resource(), NVME_DEVICE_SERVICE_TYPE);
        ASSERT_NE(CV_UID_NONE, service_);
    }

    Outcome admin(NvmeCommandBlock& block, std::vector<uint8_t>& data, uint32_t tag = 0) {
        CvCommand command{};
        command.function = NVME_DEVICE_FUNCTION_ADMIN_COMMAND;
        command.tag = tag;
        command.buffers[0] = &block;
        command.bufferLengths[0] = sizeof block;
        command.buffers[1] = data.empty() ? nullptr : data.data();
        command.bufferLengths[1] = static_cast<uint32_t>(data.size());
        Outcome outcome;
        outcome.result = CvResourceService_ExecuteCommand(namespace_->resource(), service_, 0, &command,
                                                          &outcome.error);
        return outcome;
    }

    static NvmeCommandBlock block(uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t cdw11, uint64_t seconds) {
        NvmeCommandBlock b{};
        b.submission.opcode = opcode;
        b.submission.namespaceId = nsid;
        b.submission.cdw10 = cdw10;
        b.submission.cdw11 = cdw11;
        b.timeout = seconds * 1000000000ull;
        return b;
    }

    std::string revision() {
        NvmeCommandBlock b = block(NVME_ADMIN_IDENTIFY, 0, 1, 0, 15);
        std::vector<uint8_t> data(4096);
        Outcome outcome = admin(b, data);
        EXPECT_EQ(1, outcome.result) << outcome.error.message;
        std::string text(data.begin() + 64, data.begin() + 72);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    Outcome reset() { return run(namespace_->resource(), service_, NVME_DEVICE_FUNCTION_CONTROLLER_RESET, nullptr, 0); }

    NvmeDrive* drive_ = nullptr;
    passthrough_test::FakeDisk* namespace_ = nullptr;
    passthrough_test::FakeDisk* ataDisk_ = nullptr;
    CvUID service_ = CV_UID_NONE;
};

TEST_F(NvmePluginTest, OnlyNamespacesGetTheService) {
    EXPECT_EQ(CV_UID_NONE, serviceOf(ataDisk_->resource(), NVME_DEVICE_SERVICE_TYPE));
    EXPECT_EQ(1u, namespace_->listenerCount());
    EXPECT_EQ(1u, kernel().observed().nvmeRequests) << "the probe";
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING));
}

TEST_F(NvmePluginTest, IdentifyFillsDataAndCompletion) {
    NvmeCommandBlock b = block(NVME_ADMIN_IDENTIFY, 0, 1, 0, 15);
    b.completion.statusField = 0xFFFE;
    std::vector<uint8_t> data(4096);
    Outcome outcome = admin(b, data, 41);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(NVME_PHASE_TAG, b.completion.statusField);
    EXPECT_FALSE(NvmeCompletion_Failed(&b.completion));
    EXPECT_EQ(41, b.completion.commandId);
    EXPECT_EQ(15000u, kernel().observed().nvmeTimeoutMs);
    EXPECT_EQ("NV01", revision());

    NvmeCommandBlock ns = block(NVME_ADMIN_IDENTIFY, 1, 0, 0, 15);
    ASSERT_EQ(1, admin(ns, data).result);
    EXPECT_FALSE(NvmeCompletion_Failed(&ns.completion));
}

TEST_F(NvmePluginTest, ControllerVerdictIsInTheCompletion) {
    NvmeCommandBlock b = block(0xC1, 0, 0, 0, 60);  // no such admin command
    std::vector<uint8_t> none;
    Outcome outcome = admin(b, none);
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_TRUE(NvmeCompletion_Failed(&b.completion));
    EXPECT_EQ(simdrive::nvme::kScInvalidOpcode, (b.completion.statusField >> 1) & 0xFF);
    EXPECT_EQ(NVME_PHASE_TAG, b.completion.statusField & NVME_PHASE_TAG);
}

TEST_F(NvmePluginTest, FirmwareDownloadCommitAndReset) {
    std::vector<uint8_t> image = simdrive::test::makeImage("VT NVMe", "NV02", 30000, 4096);
    const uint32_t segment = 8192;
    for (uint32_t offset = 0; offset < image.size(); offset += segment) {
        uint32_t length = std::min<uint32_t>(segment, static_cast<uint32_t>(image.size()) - offset);
        std::vector<uint8_t> data(image.begin() + offset, image.begin() + offset + length);
        NvmeCommandBlock b = block(NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD, 0, length / 4 - 1, offset / 4, 60);
        Outcome outcome = admin(b, data);
        ASSERT_EQ(1, outcome.result) << outcome.error.message;
        ASSERT_FALSE(NvmeCompletion_Failed(&b.completion)) << "at offset " << offset;
    }
    NvmeCommandBlock commit = block(NVME_ADMIN_FIRMWARE_COMMIT, 0, 1 << 3 | 2, 0, 60);
    std::vector<uint8_t> none;
    ASSERT_EQ(1, admin(commit, none).result);
    EXPECT_FALSE(NvmeCompletion_Failed(&commit.completion)) << commit.completion.statusField;
    EXPECT_EQ("NV01", revision());

    Outcome outcome = reset();
    ASSERT_EQ(1, outcome.result) << outcome.error.message;
    EXPECT_EQ(1u, kernel().observed().nvmeResets);
    EXPECT_EQ("NV02", revision());
}

// An admin command the kernel gave up on is no completion of the controller:
// older kernels fail the request with EINTR, later ones complete it with the
// host-aborted status of their own.
TEST_F(NvmePluginTest, ATimedOutAdminCommandIsAFailedCall) {
    std::vector<uint8_t> segment(4096, 0x5A);
    const std::pair<simdrive::SimKernel::TimeoutReport, const char*> reports[] = {
        {simdrive::SimKernel::TimeoutReport::OldKernel, "NVMe admin command failed: 4"},
        {simdrive::SimKernel::TimeoutReport::NewKernel, "NVMe admin command failed: 5"},
    };
    for (const auto& [report, message] : reports) {
        kernel().timeOutNext("/dev/nvme0", 1, report);
        NvmeCommandBlock b = block(NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD, 0, 4096 / 4 - 1, 0, 60);
        Outcome outcome = admin(b, segment);
        EXPECT_EQ(0, outcome.result);
        EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
        EXPECT_STREQ(message, outcome.error.message);
    }
    EXPECT_EQ("NV01", revision());
}

// The admin transfer limit comes from the controller's queue, read when the
// controller is opened.
TEST_F(NvmePluginTest, LargestTransferFollowsTheAdminQueueLimit) {
    auto ability = [&](int32_t index) {
        NvmeAbility answer{};
        Outcome outcome = run(namespace_->resource(), service_, DEVICE_FUNCTION_GET_ABILITY, &index, 4, &answer,
                              sizeof answer);
        EXPECT_EQ(1, outcome.result) << outcome.error.message;
        return answer;
    };
    int32_t count = 0;
    ASSERT_EQ(1, run(namespace_->resource(), service_, DEVICE_FUNCTION_GET_ABILITY_COUNT, &count, 4).result);
    ASSERT_EQ(2, count);
    EXPECT_EQ(NVME_ABILITY_DATA_OUT, ability(1).kind);
    EXPECT_EQ(NVME_DEFAULT_MAX_TRANSFER, ability(1).maxTransferBytes);

    kernel().setQueueLimit("/dev/nvme0", 508 * 1024);
    namespace_->depart();
    namespace_->arrive("/dev/nvme0n1");
    EXPECT_EQ(NVME_ABILITY_DATA_IN, ability(0).kind);
    EXPECT_EQ(508u * 1024, ability(0).maxTransferBytes);
    EXPECT_EQ(508u * 1024, ability(1).maxTransferBytes);

    std::vector<uint8_t> segment(512 * 1024);
    NvmeCommandBlock b = block(NVME_ADMIN_FIRMWARE_IMAGE_DOWNLOAD, 0, 512 * 1024 / 4 - 1, 0, 60);
    EXPECT_STREQ("NVMe admin command failed: 22", admin(b, segment).error.message);  // EINVAL
}

// A namespace of a multipath subsystem is named after the subsystem: its
// service goes to the subsystem's live controller, found in the sysfs tree the
// seam reads (nvme3 is resetting, and there is no nvme1).
TEST_F(NvmePluginTest, MultipathNamespaceReachesTheLiveControllerOfItsSubsystem) {
    namespace fs = std::filesystem;
    const fs::path classes = passthrough_test::sysfsRoot() / "sys" / "class";
    struct Cleanup {
        fs::path tree;
        ~Cleanup() { fs::remove_all(tree); }
    } cleanup{passthrough_test::sysfsRoot() / "sys"};
    fs::create_directories(classes / "block" / "nvme1n1");
    std::ofstream(classes / "block" / "nvme1n1" / "dev") << "259:5\n";
    for (const char* entry : {"nvme1n1", "nvme0", "nvme3"})
        fs::create_directories(classes / "nvme-subsystem" / "nvme-subsys1" / entry);
    for (auto [controller, state] : {std::pair{"nvme0", "live"}, std::pair{"nvme3", "resetting"}}) {
        fs::create_directories(classes / "nvme" / controller);
        std::ofstream(classes / "nvme" / controller / "state") << state << "\n";
    }

    auto& multipath = publish("/dev/nvme1n1");
    drainEvents();
    EXPECT_NE(CV_UID_NONE, serviceOf(multipath.resource(), NVME_DEVICE_SERVICE_TYPE));
    EXPECT_FALSE(anyAtLevel(CV_LOG_WARNING));
}

TEST_F(NvmePluginTest, RefusalsAndAbsence) {
    uint8_t buffer[104] = {};
    Outcome outcome = run(namespace_->resource(), service_, 1, buffer, 103);
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("Parameter buffer 0 is not exactly 104 bytes long for 'admin command': 103", outcome.error.message);
    outcome = run(namespace_->resource(), service_, 2, buffer, 104);
    EXPECT_STREQ("Unsupported function code: 2", outcome.error.message);

    namespace_->depart();
    NvmeCommandBlock b = block(NVME_ADMIN_IDENTIFY, 0, 1, 0, 15);
    std::vector<uint8_t> data(4096);
    outcome = admin(b, data);
    EXPECT_EQ(0, outcome.result);
    EXPECT_EQ(CV_ERROR_FAILED, outcome.error.code);
    EXPECT_STREQ("Device is unavailable", outcome.error.message);
    outcome = reset();
    EXPECT_STREQ("Device is unavailable", outcome.error.message);

    namespace_->arrive("/dev/nvme0n1");
    EXPECT_EQ("NV01", revision());

    drive_->setGone(true);
    outcome = admin(b, data);
    EXPECT_EQ(0, outcome.result);
    EXPECT_STREQ("NVMe admin command failed: 19", outcome.error.message);  // ENODEV
    outcome = reset();
    EXPECT_STREQ("NVMe controller reset failed: 19", outcome.error.message);
}

}  // namespace
