// The framework, the simulated kernel and published disks for the pass-through tests.
#include "passthrough_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <system_error>

// The plug-ins under test look this up in the process and send every kernel
// call to the simulator.
extern "C" __attribute__((visibility("default"))) const KernelIoOps* KernelIo_TestProvider(void) {
    return simdrive::SimKernel::ops();
}

// ... and read the sysfs tree of passthrough_test::sysfsRoot(), never this machine's.
extern "C" __attribute__((visibility("default"))) const char* KernelIo_TestSysfsRoot(void) {
    static const std::string root = passthrough_test::sysfsRoot().string();
    return root.c_str();
}

namespace passthrough_test {

namespace {
int g_diskCounter = 0;

// A temporary directory for the whole test program, removed at its end.
struct SysfsTree {
    std::filesystem::path root;
    SysfsTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "passthrough-sysfs-XXXXXX").string();
        root = ::mkdtemp(pattern.data()) != nullptr ? pattern : "/nonexistent-sysfs";
    }
    ~SysfsTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};
}  // namespace

const std::filesystem::path& sysfsRoot() {
    static const SysfsTree tree;
    return tree.root;
}

FakeDisk::FakeDisk(std::string path, const DriveInfoBlock& block, int32_t nodeType)
    : path_(std::move(path)), block_(block) {
    auto* info = static_cast<OsDriveInfo*>(CvAlloc(static_cast<int32_t>(sizeof(OsDriveInfo))));
    info->ownerHandle = this;
    info->nodeType = nodeType;
    info->addListener = addListener;
    info->removeListener = removeListener;
    std::strncpy(info->diskPath, path_.c_str(), OS_DRIVE_PATH_SIZE - 1);
    info->info = block_;

    CvResourceDescriptor descriptor{};
    std::snprintf(descriptor.info.name, sizeof descriptor.info.name, "device:%d", g_diskCounter++);
    std::strncpy(descriptor.info.description, "Hard drive controlled by a Linux driver",
                 sizeof descriptor.info.description - 1);
    std::strncpy(descriptor.typeInfo.typeName, OS_DRIVEINFO_TYPE_NAME, sizeof descriptor.typeInfo.typeName - 1);
    descriptor.typeInfo.typeData = info;
    CvError error{};
    EXPECT_EQ(1, CvResourceManager_Register(&descriptor, &resource_, &error)) << error.message;
}

FakeDisk::~FakeDisk() { unregister(); }

void FakeDisk::unregister() {
    if (resource_ == CV_UID_NONE) return;
    CvError error{};
    EXPECT_EQ(1, CvResourceManager_Unregister(resource_, &error)) << error.message;
    resource_ = CV_UID_NONE;
}

std::size_t FakeDisk::listenerCount() const {
    std::lock_guard lock(mutex_);
    return listeners_.size();
}

void FakeDisk::depart() {
    std::lock_guard lock(mutex_);
    DriveInfoBlock copy = block_;
    for (DriveListener* listener : listeners_) listener->notify(listener->owner, 0, path_.c_str(), &copy);
}

void FakeDisk::arrive(const std::string& path) {
    std::lock_guard lock(mutex_);
    path_ = path;
    char buffer[OS_DRIVE_PATH_SIZE] = {};
    std::strncpy(buffer, path.c_str(), sizeof buffer - 1);
    DriveInfoBlock copy = block_;
    for (DriveListener* listener : listeners_) listener->notify(listener->owner, 1, buffer, &copy);
}

void FakeDisk::addListener(void* owner, DriveListener* listener) {
    auto* disk = static_cast<FakeDisk*>(owner);
    std::lock_guard lock(disk->mutex_);
    disk->listeners_.push_back(listener);
}

void FakeDisk::removeListener(void* owner, DriveListener* listener) {
    auto* disk = static_cast<FakeDisk*>(owner);
    std::lock_guard lock(disk->mutex_);
    std::erase(disk->listeners_, listener);
}

void PassThroughTest::SetUp() {
    CvInitialize();
    kernel().reset();
    log_ = std::make_unique<corvane_test::LogCapture>();
}

void PassThroughTest::TearDown() {
    // Let the plug-ins finish with every resource-added event before the
    // resources go.
    drainEvents();
    disks_.clear();
    log_.reset();
    CvError error{};
    EXPECT_EQ(1, CvUninitialize(&error)) << error.message;
    EXPECT_EQ(0, kernel().openDescriptors());
    kernel().reset();
    drives_.clear();
}

void PassThroughTest::addNodeOf(const simdrive::SimDrive* drive, const std::string& node) {
    const auto found = std::find_if(drives_.begin(), drives_.end(), [&](const auto& d) { return d.get() == drive; });
    ASSERT_NE(drives_.end(), found);
    kernel().addNode(node, *found);
}

FakeDisk& PassThroughTest::publish(const std::string& path, uint32_t flags, int32_t nodeType) {
    DriveInfoBlock block{};
    block.flags = flags;
    disks_.push_back(std::make_unique<FakeDisk>(path, block, nodeType));
    return *disks_.back();
}

FakeDisk& PassThroughTest::publish(const std::string& path, const DriveInfoBlock& block) {
    disks_.push_back(std::make_unique<FakeDisk>(path, block, OS_DRIVE_NODE_TYPE));
    return *disks_.back();
}

CvUID PassThroughTest::loadPlugin(const char* name) {
    CvUID plugin = CV_UID_NONE;
    CvError error{};
    EXPECT_EQ(1, CvPluginManager_Load(name, nullptr, &plugin, &error)) << error.message;
    return plugin;
}

void PassThroughTest::unloadPlugin(CvUID plugin) {
    CvError error{};
    EXPECT_EQ(1, CvPluginManager_Unload(plugin, &error)) << error.message;
}

void PassThroughTest::drainEvents() {
    std::promise<void> done;
    auto* work = static_cast<CvWork*>(CvAlloc(static_cast<int32_t>(sizeof(CvWork))));
    work->argument = &done;
    work->function = [](void* argument) { static_cast<std::promise<void>*>(argument)->set_value(); };
    CvWorkManager_QueueWork(work);
    done.get_future().wait();
}

CvUID PassThroughTest::serviceOf(CvUID resource, const char* type) {
    CvUID service = CV_UID_NONE;
    CvError error{};
    EXPECT_EQ(1, CvResource_LookupResourceService(resource, type, &service, &error)) << error.message;
    return service;
}

PassThroughTest::Outcome PassThroughTest::run(CvUID resource, CvUID service, uint8_t function, void* block,
                                              uint32_t blockLength, void* data, uint32_t dataLength) {
    CvCommand command{};
    command.function = function;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[0] = block;
    command.bufferLengths[0] = blockLength;
    command.buffers[1] = data;
    command.bufferLengths[1] = dataLength;
    Outcome outcome;
    outcome.result = CvResourceService_ExecuteCommand(resource, service, 0, &command, &outcome.error);
    return outcome;
}

bool PassThroughTest::has(int level, const std::string& message) const {
    auto lines = log_->lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const auto& line) { return line.level == level && line.message == message; });
}

bool PassThroughTest::anyAtLevel(int level) const {
    auto lines = log_->lines();
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.level <= level; });
}

}  // namespace passthrough_test
