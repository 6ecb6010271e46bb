// The plug-in over a scripted system: start-up enumeration, the two services,
// hot-plug departure, return and expiry, and the settings.
#include <corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "fake_system.h"
#include "log_capture.h"
#include "os_devices.h"
#include "work_items.h"

namespace {

using corvane_test::LogCapture;
using os_devices_test::FakeSystem;

constexpr uint8_t kGetSupport = 0, kGetSystemProperties = 1, kGetHba = 2, kGetUsb = 3, kGetTopology = 4;
constexpr uint8_t kCapabilities = 0, kRemoveNow = 1, kIsDynamic = 2, kGetLinger = 3, kSetLinger = 4,
                  kIsAvailable = 5, kWaitUntilAvailable = 6;

// What a pass-through plug-in's listener saw.
struct ListenerSpy {
    DriveListener listener{this, &ListenerSpy::Notify};
    std::vector<std::pair<int, std::string>> calls;

    static void Notify(void* owner, int32_t arrived, const char* path, const DriveInfoBlock*)
    {
        static_cast<ListenerSpy*>(owner)->calls.emplace_back(arrived, path);
    }
};

class OsDevicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvInitialize();
        settings = StringMap_Create();
        StringMap_SetValue(settings, "ScanTimeout", "-1");
        StringMap_SetValue(settings, "NoPnpDelay", "1");
    }
    void TearDown() override
    {
        if (started) {
            EXPECT_EQ(1, os_devices::Stop(&error)) << error.message;
        }
        StringMap_Destroy(settings);
        CvUninitialize(&error);
    }

    void Start(os_devices::Timing timing = {})
    {
        ASSERT_EQ(1, os_devices::Start(system, settings, timing, &error)) << error.message;
        started = true;
    }

    CvUID Resource(const std::string& name)
    {
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(1, CvResourceManager_LookupResource(name.c_str(), &uid, &error));
        return uid;
    }
    CvUID Service(CvUID resource, const char* type)
    {
        CvUID uid = CV_UID_NONE;
        EXPECT_EQ(1, CvResource_LookupResourceService(resource, type, &uid, &error));
        return uid;
    }
    OsDriveInfo* Info(CvUID resource)
    {
        CvResourceTypeInfo type{};
        EXPECT_EQ(1, CvResource_GetTypeInfo(resource, &type, &error));
        EXPECT_STREQ(OS_DRIVEINFO_TYPE_NAME, type.typeName);
        return static_cast<OsDriveInfo*>(type.typeData);
    }
    std::vector<std::string> ResourceNames()
    {
        CvUIDList list{};
        EXPECT_EQ(1, CvResourceManager_GetResourceList(&list, &error));
        std::vector<std::string> names;
        for (int i = 0; i < list.count; ++i) {
            CvResourceInfo info{};
            CvResource_GetInfo(list.uids[i], &info, &error);
            names.emplace_back(info.name);
        }
        return names;
    }
    int Execute(CvUID resource, const char* type, uint8_t function, void* buffer, uint32_t length)
    {
        CvCommand command{};
        command.function = function;
        command.tag = CV_COMMAND_TAG_NONE;
        command.buffers[0] = buffer;
        command.bufferLengths[0] = length;
        return CvResourceService_ExecuteCommand(resource, Service(resource, type), 0, &command, &error);
    }
    int Information(CvUID resource, uint8_t function, void* buffer, uint32_t length)
    {
        return Execute(resource, "resource/information", function, buffer, length);
    }
    int Hotplug(CvUID resource, uint8_t function, void* buffer, uint32_t length)
    {
        return Execute(resource, "resource/hotplug-control", function, buffer, length);
    }
    uint8_t Available(CvUID resource)
    {
        uint8_t available = 0xFF;
        EXPECT_EQ(1, Hotplug(resource, kIsAvailable, &available, 1)) << error.message;
        return available;
    }
    void SetLinger(CvUID resource, int32_t seconds)
    {
        ASSERT_EQ(1, Hotplug(resource, kSetLinger, &seconds, 4)) << error.message;
    }
    // Starts "wait until available" on another thread and returns once it waits.
    std::future<uint8_t> WaitUntilAvailable(CvUID resource)
    {
        auto* record = static_cast<os_devices::DriveRecord*>(Info(resource)->ownerHandle);
        auto answer = std::async(std::launch::async, [this, resource] {
            uint8_t available = 0xFF;
            CvError own;
            CvCommand command{};
            command.function = kWaitUntilAvailable;
            command.buffers[0] = &available;
            command.bufferLengths[0] = 1;
            CvResourceService_ExecuteCommand(resource, Service(resource, "resource/hotplug-control"), 0, &command,
                                             &own);
            return available;
        });
        auto& state = os_devices::State();
        std::unique_lock lock(state.mutex);
        record->changed.wait(lock, [&] { return record->waiters == 1; });
        return answer;
    }

    FakeSystem system;
    StringMap* settings = nullptr;
    CvError error{};
    bool started = false;
};

TEST_F(OsDevicesTest, StartRegistersEveryUsableWholeDiskWithItsDriveInfo)
{
    system.AddDisk("sda", 8, 0, "/dev/disk/by-id/ata-MODEL_SERIAL1");
    system.AddDisk("sdb", 8, 16, "/dev/disk/by-id/usb-Maker_Stick_42-0:0", "usb");
    system.AddDisk("sdc", 8, 32, "/dev/disk/by-id/ata-LOCKED");
    system.MakeUnopenable("/dev/sdc");
    system.AddDisk("loop0", 7, 0, "").devPath = "/devices/virtual/block/loop0";
    system.AddDisk("zram0", 252, 0, "").devPath = "/devices/virtual/block/zram0";
    system.AddDisk("sr0", 11, 0, "/dev/disk/by-id/ata-DVD");
    Start();

    EXPECT_EQ((std::vector<std::string>{"device:0", "device:1"}), ResourceNames());
    const CvUID first = Resource("device:0");
    CvResourceInfo info{};
    ASSERT_EQ(1, CvResource_GetInfo(first, &info, &error));
    EXPECT_STREQ("Hard drive controlled by a Linux driver", info.description);
    const OsDriveInfo* drive = Info(first);
    EXPECT_EQ(OS_DRIVE_NODE_TYPE, drive->nodeType);
    EXPECT_STREQ("/dev/sda", drive->diskPath);
    EXPECT_EQ(0u, drive->info.flags);
    EXPECT_STREQ("/dev/sda", drive->info.hostPort.accessPath);
    EXPECT_EQ(8 << 20, drive->info.hostPort.driveNumber);
    EXPECT_NE(nullptr, drive->addListener);
    EXPECT_NE(nullptr, drive->removeListener);
    const OsDriveInfo* stick = Info(Resource("device:1"));
    EXPECT_STREQ("/dev/sdb", stick->diskPath);
    EXPECT_EQ(DRIVE_INFO_BUS_USB, stick->info.flags);
    EXPECT_EQ((8 << 20) | 16, stick->info.hostPort.driveNumber);
}

// NVMe namespaces that the kernel places among the virtual devices are drives:
// under their subsystem (native multipath) and under a fabrics controller. A
// controller's hidden path to a multipath namespace is not a disk of its own.
TEST_F(OsDevicesTest, MultipathAndFabricsNamespacesAreDisks)
{
    system.AddDisk("nvme1n1", 259, 5, "nvme-VT_Dual_Port_1").devPath =
        "/devices/virtual/nvme-subsystem/nvme-subsys1/nvme1n1";
    system.AddDisk("nvme1c0n1", 259, 6, "").devPath = "/devices/pci0000:00/0000:00:04.0/nvme/nvme0/nvme1c0n1";
    system.AddDisk("nvme3n1", 259, 7, "nvme-VT_Fabrics_3").devPath = "/devices/virtual/nvme-fabrics/ctl/nvme3/nvme3n1";
    Start();
    EXPECT_EQ((std::vector<std::string>{"device:0", "device:1"}), ResourceNames());
    EXPECT_STREQ("/dev/nvme1n1", Info(Resource("device:0"))->diskPath);
    EXPECT_STREQ("/dev/nvme3n1", Info(Resource("device:1"))->diskPath);

    // A namespace connected later is followed too.
    system.AddDisk("nvme4n1", 259, 8, "nvme-VT_Fabrics_4").devPath =
        "/devices/virtual/nvme-subsystem/nvme-subsys4/nvme4n1";
    system.Run(os_devices::DiskEvent{"add", "/devices/virtual/nvme-subsystem/nvme-subsys4/nvme4n1", "/dev/nvme4n1"});
    EXPECT_EQ(3u, ResourceNames().size());
}

TEST_F(OsDevicesTest, HostPortLookupFindsTheDiskByItsInterfacePath)
{
    LogCapture log;
    system.AddDisk("sda", 8, 0, "/dev/disk/by-id/scsi-SAS_DISK_7");
    system.hostPorts.resize(3);
    system.hostPorts[0].scanFails = true;
    system.hostPorts[1].devices = {{{1, 2, 0, 0}, "/dev/disk/by-id/scsi-OTHER"}};
    system.hostPorts[2].record.fill(0x5A);
    system.hostPorts[2].devices = {{{3, 4, 0, 5}, "/dev/disk/by-id/scsi-OTHER"},
                                   {{6, 7, 0, 8}, "/dev/disk/by-id/scsi-SAS_DISK_7"}};
    Start();

    const OsDriveInfo* sas = Info(Resource("device:0"));
    EXPECT_EQ(DRIVE_INFO_HOST_PORT_VALID, sas->info.flags);
    EXPECT_EQ(6u, sas->info.hostPort.deviceEntry[0]);
    EXPECT_EQ(7u, sas->info.hostPort.deviceEntry[1]);
    EXPECT_EQ(8u, sas->info.hostPort.deviceEntry[3]);
    EXPECT_EQ(0x5A, sas->info.hostPort.portRecord[0]);
    EXPECT_EQ(0x5A, sas->info.hostPort.portRecord[HOST_PORT_RECORD_SIZE - 1]);
    EXPECT_STREQ("/dev/sda", sas->info.hostPort.accessPath);
    // The ports without a match were closed, the matching one stays open.
    EXPECT_TRUE(system.hostPorts[0].closed);
    EXPECT_TRUE(system.hostPorts[1].closed);
    EXPECT_FALSE(system.hostPorts[2].closed);
    const auto messages = log.messages();
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), "error scanning for mpt devices"));
}

TEST_F(OsDevicesTest, DefaultFilterLeavesOutDisksWithMountedVolumes)
{
    StringMap_RemoveValue(settings, "DriveFilter");
    system.AddDisk("sda", 8, 0, "plain");
    system.AddDisk("sdb", 8, 16, "unmounted");
    system.AddPartition("sdb", "sdb1", 8, 17);
    system.AddDisk("sdc", 8, 32, "mounted");
    system.AddPartition("sdc", "sdc1", 8, 33);
    system.Mount("8:33", "/dev/sdc1");
    system.AddDisk("sdd", 8, 48, "mapped");
    system.AddHolder("sdd", "dm-0", 254, 0);
    system.Mount("254:0", "/dev/mapper/data");
    Start();
    EXPECT_EQ((std::vector<std::string>{"device:0", "device:1"}), ResourceNames());
    EXPECT_STREQ("/dev/sdb", Info(Resource("device:1"))->diskPath);
}

TEST_F(OsDevicesTest, UnknownDriveFilterFailsTheStart)
{
    StringMap_SetValue(settings, "DriveFilter", "Sometimes");
    EXPECT_EQ(0, os_devices::Start(system, settings, {}, &error));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Unknown drive filter setting: 'Sometimes'", error.message);
}

TEST_F(OsDevicesTest, WithoutSettingsMountedVolumesAreFilteredAndTheStartDoesNotWait)
{
    system.AddDisk("sda", 8, 0, "a");
    system.AddDisk("sdb", 8, 16, "b");
    system.Mount("8:16", "/dev/sdb");
    system.HoldEnumeration();
    ASSERT_EQ(1, os_devices::Start(system, nullptr, {}, &error)) << error.message;
    started = true;
    system.ReleaseEnumeration();
    system.Run();
    EXPECT_EQ((std::vector<std::string>{"device:0"}), ResourceNames());
}

TEST_F(OsDevicesTest, ScanTimeoutZeroReturnsBeforeTheFirstEnumeration)
{
    StringMap_SetValue(settings, "ScanTimeout", "0");
    system.AddDisk("sda", 8, 0, "a");
    system.HoldEnumeration();
    Start();
    EXPECT_TRUE(ResourceNames().empty());
    system.ReleaseEnumeration();
    system.Run();  // the first enumeration is done once the thread waits for events
    EXPECT_EQ((std::vector<std::string>{"device:0"}), ResourceNames());
}

TEST_F(OsDevicesTest, WithoutUdevTheStaticListIsUsed)
{
    LogCapture log;
    system.AddDisk("sda", 8, 0, "a");
    system.directories["/sys/block"] = {"vda", "loop0", "sda"};
    system.files["/sys/block/vda/dev"] = "254:0\n";
    system.files["/sys/block/sda/dev"] = "8:0\n";
    system.FailEnumeration(true);
    Start();
    EXPECT_EQ((std::vector<std::string>{"device:0", "device:1"}), ResourceNames());
    const OsDriveInfo* first = Info(Resource("device:0"));
    EXPECT_STREQ("/dev/sda", first->diskPath);
    EXPECT_STREQ("/dev/vda", Info(Resource("device:1"))->diskPath);
    const auto lines = log.lines();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     corvane_test::LogLine{CV_LOG_WARNING,
                                                           "Problem while trying to use HAL, falling back to a static "
                                                           "device list: scripted failure"}));
}

TEST_F(OsDevicesTest, InformationServiceAnswersEveryFunction)
{
    system.AddDisk("sda", 8, 0, "a");
    system.AddDisk("sdb", 8, 16, "b", "usb");
    Start();
    const CvUID disk = Resource("device:0");
    const CvUID stick = Resource("device:1");

    uint32_t support = 0;
    ASSERT_EQ(1, Information(disk, kGetSupport, &support, 4)) << error.message;
    EXPECT_EQ(0x1u, support);
    ASSERT_EQ(1, Information(stick, kGetSupport, &support, 4));
    EXPECT_EQ(0x5u, support);

    uint8_t properties[512];
    std::memset(properties, 0xAA, sizeof properties);
    ASSERT_EQ(1, Information(disk, kGetSystemProperties, properties, 512));
    EXPECT_STREQ("/dev/sda", reinterpret_cast<char*>(properties));
    EXPECT_STREQ("/dev/sda", reinterpret_cast<char*>(properties + 256));
    EXPECT_EQ(0, properties[255]);
    EXPECT_EQ(0, properties[511]);

    uint8_t block[272];
    std::memset(block, 0xAA, sizeof block);
    ASSERT_EQ(1, Information(stick, kGetUsb, block, 272));
    EXPECT_EQ(0, block[16]);
    EXPECT_EQ(0, block[271]);

    EXPECT_EQ(0, Information(disk, kGetUsb, block, 272));
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error.code);
    EXPECT_STREQ("This resource does not support getting USB device properties", error.message);
    EXPECT_EQ(0, Information(disk, kGetHba, block, 272));
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error.code);
    EXPECT_STREQ("This resource does not support getting HBA properties", error.message);
    EXPECT_EQ(0, Information(disk, kGetTopology, block, 16));
    EXPECT_EQ(CV_ERROR_NOT_SUPPORTED, error.code);
    EXPECT_STREQ("This resource does not support getting scsi topology", error.message);

    EXPECT_EQ(0, Information(disk, kGetSystemProperties, properties, 511));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Parameter buffer 0 is not exactly 512 bytes long for 'get system properties': 511", error.message);
    EXPECT_EQ(0, Information(disk, kGetSupport, properties, 0));
    EXPECT_STREQ("Parameter buffer 0 is not exactly 4 bytes long for 'get support': 0", error.message);
    EXPECT_EQ(0, Information(disk, 5, properties, 4));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Unsupported function code: 5", error.message);
}

TEST_F(OsDevicesTest, BothServicesRefuseSubmitAndAbort)
{
    system.AddDisk("sda", 8, 0, "a");
    Start();
    const CvUID disk = Resource("device:0");
    for (const char* type : {"resource/information", "resource/hotplug-control"}) {
        uint32_t buffer = 0;
        CvCommand command{};
        command.buffers[0] = &buffer;
        command.bufferLengths[0] = 4;
        command.tag = 7;
        CvCommandCompletion completion{};
        EXPECT_EQ(0, CvResourceService_SubmitCommand(disk, Service(disk, type), 0, &command, &completion, &error));
        EXPECT_EQ(CV_ERROR_FAILED, error.code);
        EXPECT_STREQ("Submitting commands not supported", error.message);
        EXPECT_EQ(0, CvResourceService_AbortCommand(disk, Service(disk, type), 0, 7, &error));
        EXPECT_EQ(CV_ERROR_FAILED, error.code);
        EXPECT_STREQ("Aborting commands not supported", error.message);
    }
}

TEST_F(OsDevicesTest, HotplugControlAnswersEveryQuery)
{
    system.AddDisk("sda", 8, 0, "a");
    Start();
    const CvUID disk = Resource("device:0");
    uint32_t capabilities = 0xFFFFFFFF;
    ASSERT_EQ(1, Hotplug(disk, kCapabilities, &capabilities, 4));
    EXPECT_EQ(0u, capabilities);
    uint8_t dynamic = 0xFF;
    ASSERT_EQ(1, Hotplug(disk, kIsDynamic, &dynamic, 1));
    EXPECT_EQ(0, dynamic);
    int32_t linger = 0;
    ASSERT_EQ(1, Hotplug(disk, kGetLinger, &linger, 4));
    EXPECT_EQ(60, linger);
    SetLinger(disk, -1);
    ASSERT_EQ(1, Hotplug(disk, kGetLinger, &linger, 4));
    EXPECT_EQ(-1, linger);
    EXPECT_EQ(1, Available(disk));
    uint8_t available = 0;
    ASSERT_EQ(1, Hotplug(disk, kWaitUntilAvailable, &available, 1));
    EXPECT_EQ(1, available);

    EXPECT_EQ(0, Hotplug(disk, kIsAvailable, &linger, 4));
    EXPECT_STREQ("Parameter buffer 0 is not exactly 1 bytes long for 'is available': 4", error.message);
    EXPECT_EQ(0, Hotplug(disk, kSetLinger, &available, 1));
    EXPECT_STREQ("Parameter buffer 0 is not exactly 4 bytes long for 'set linger timeout': 1", error.message);
    EXPECT_EQ(0, Hotplug(disk, 7, &available, 1));
    EXPECT_EQ(CV_ERROR_INVALID_INPUT, error.code);
    EXPECT_STREQ("Unsupported function code: 7", error.message);
}

TEST_F(OsDevicesTest, DiskThatReturnsWithinItsLingerTimeKeepsResourceServicesAndListeners)
{
    system.AddDisk("sdb", 8, 16, "/dev/disk/by-id/usb-Maker_Stick_42-0:0", "usb");
    Start();
    const CvUID disk = Resource("device:0");
    const CvUID information = Service(disk, "resource/information");
    const CvUID hotplug = Service(disk, "resource/hotplug-control");
    OsDriveInfo* info = Info(disk);
    ListenerSpy spy;
    info->addListener(info->ownerHandle, &spy.listener);

    system.RemoveDisk("sdb");
    system.Event("remove", "sdb");
    EXPECT_EQ(0, Available(disk));
    ASSERT_EQ(1u, spy.calls.size());
    EXPECT_EQ(std::make_pair(0, std::string("/dev/sdb")), spy.calls[0]);

    auto waiter = WaitUntilAvailable(disk);
    system.AddDisk("sdc", 8, 32, "/dev/disk/by-id/usb-Maker_Stick_42-0:0", "usb");
    system.Event("add", "sdc");
    EXPECT_EQ(1, waiter.get());
    EXPECT_EQ(1, Available(disk));
    ASSERT_EQ(2u, spy.calls.size());
    EXPECT_EQ(std::make_pair(1, std::string("/dev/sdc")), spy.calls[1]);
    EXPECT_EQ((std::vector<std::string>{"device:0"}), ResourceNames());
    EXPECT_EQ(information, Service(disk, "resource/information"));
    EXPECT_EQ(hotplug, Service(disk, "resource/hotplug-control"));
    uint8_t properties[512];
    ASSERT_EQ(1, Information(disk, kGetSystemProperties, properties, 512));
    EXPECT_STREQ("/dev/sdc", reinterpret_cast<char*>(properties + 256));

    info->removeListener(info->ownerHandle, &spy.listener);
    system.RemoveDisk("sdc");
    system.Event("remove", "sdc");
    EXPECT_EQ(2u, spy.calls.size());
}

TEST_F(OsDevicesTest, LingeringDiskExpiresAfterItsTimeOut)
{
    system.AddDisk("sda", 8, 0, "a");
    system.AddDisk("sdb", 8, 16, "b");
    Start();
    const CvUID gone = Resource("device:0");
    const CvUID forever = Resource("device:1");
    SetLinger(forever, -1);
    system.RemoveDisk("sda");
    system.RemoveDisk("sdb");
    system.Event("remove", "sda");
    EXPECT_EQ(0, Available(gone));
    EXPECT_EQ(0, Available(forever));

    auto waiter = WaitUntilAvailable(gone);
    SetLinger(gone, 0);
    LogCapture log;
    system.Run();  // one pass of the loop
    EXPECT_EQ(0, waiter.get());
    EXPECT_EQ(CV_UID_NONE, Resource("device:0"));
    EXPECT_EQ(0, Available(forever));
    const auto messages = log.messages();
    EXPECT_NE(messages.end(),
              std::find(messages.begin(), messages.end(),
                        "Pnp_WorkLoop: device timed out, removed from lingerList a, PhysicalDrive" +
                            std::to_string(8 << 20)));
}

TEST_F(OsDevicesTest, RemoveNowUnregistersThroughTheWorkQueue)
{
    system.AddDisk("sda", 8, 0, "a");
    Start();
    const CvUID disk = Resource("device:0");
    system.RemoveDisk("sda");
    system.Event("remove", "sda");
    auto waiter = WaitUntilAvailable(disk);
    ASSERT_EQ(1, Hotplug(disk, kRemoveNow, nullptr, 0)) << error.message;
    EXPECT_EQ(0, waiter.get());
    corvane_test::WorkMarker().wait();
    EXPECT_TRUE(ResourceNames().empty());
}

TEST_F(OsDevicesTest, NewDisksTakeFreshNumbersAndMountedOnesStayOut)
{
    system.AddDisk("sda", 8, 0, "a");
    Start();
    system.AddDisk("sdb", 8, 16, "b");
    system.AddDisk("sdc", 8, 32, "c");
    system.AddPartition("sdc", "sdc1", 8, 33);
    system.Mount("8:33", "/dev/sdc1");
    system.Event("add", "sdb");
    // The rescan built entries 1 (sda) and 2 (sdb); the new record takes 3.
    EXPECT_EQ((std::vector<std::string>{"device:0", "device:3"}), ResourceNames());
    EXPECT_STREQ("/dev/sdb", Info(Resource("device:3"))->diskPath);
    // Events of virtual disks are not followed.
    system.AddDisk("sdd", 8, 48, "d");
    system.Run(os_devices::DiskEvent{"add", "/devices/virtual/block/loop3", "/dev/loop3"});
    EXPECT_EQ(2u, ResourceNames().size());
}

TEST_F(OsDevicesTest, SettlingDelaysRunUnlessNoPnpDelayIsExactlyOne)
{
    StringMap_SetValue(settings, "NoPnpDelay", "yes");
    Start(os_devices::Timing{0, 0, 1000});
    LogCapture log;
    system.AddDisk("sda", 8, 0, "a");
    system.Event("add", "sda");
    const auto messages = log.messages();
    EXPECT_EQ((std::vector<std::string>{"DBT_DEVICEARRIVAL:", "DEVICEARRIVAL: wait for volumes to mount",
                                        "DEVICEARRIVAL: " + FakeSystem::DevPath("sda"),
                                        "Pnp_DeviceAdded: ADD new device a, disk" + std::to_string(8 << 20) +
                                            ", call CvOsDevices_RegisterDrive"}),
              std::vector<std::string>(messages.begin(), messages.begin() + std::min<std::size_t>(4, messages.size())));
}

}  // namespace
