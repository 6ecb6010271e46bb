// Resources and their services: registration, look-ups, info records and the
// ownership of a resource's type data.
#include <corvane.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>

#include "log_capture.h"
#include "resource_fixture.h"
#include "service_doubles.h"

namespace {

using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::ResourceDouble;
using corvane_test::ServiceDouble;

using ResourceManagerTest = corvane_test::ResourceFixture;

TEST_F(ResourceManagerTest, RegistersResourceWithInfoTypeDataAndLogLine)
{
    LogCapture log;
    void* typeData = CvStrDup("payload");
    ResourceDouble& disk = resource("disk:0", typeData);
    CvError error;
    const CvUID uid = disk.add(&error);
    ASSERT_NE(uid, CV_UID_NONE) << error.message;
    EXPECT_EQ(disk.registeredUid, uid);
    EXPECT_EQ(error.code, 0);

    CvResourceInfo info;
    ASSERT_EQ(CvResource_GetInfo(uid, &info, &error), 1);
    EXPECT_STREQ(info.name, "disk:0");
    EXPECT_STREQ(info.description, "A resource of the tests");
    CvResourceTypeInfo typeInfo;
    ASSERT_EQ(CvResource_GetTypeInfo(uid, &typeInfo, &error), 1);
    EXPECT_STREQ(typeInfo.typeName, "test/resource");
    EXPECT_EQ(typeInfo.typeData, typeData);  // the manager's now, same pointer

    EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                               {CV_LOG_INFO, "Resource added - ResourceID=" + std::to_string(uid) +
                                                 " ResourceName='disk:0'"}}));
    ASSERT_EQ(CvResourceManager_Unregister(uid, &error), 1) << error.message;  // frees the type data
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_INFO, "Resource removed - ResourceID=" + std::to_string(uid) + " ResourceName='disk:0'"}));
}

TEST_F(ResourceManagerTest, DuplicateNameIsRefusedAndItsTypeDataFreed)
{
    CvError error;
    const CvUID first = resource("disk:0", CvStrDup("first")).add(&error);
    ASSERT_NE(first, CV_UID_NONE);
    // The refused registration's type data is freed by the manager (a leak or
    // a second free shows under the address sanitizer).
    EXPECT_EQ(resource("disk:0", CvStrDup("second")).add(&error), CV_UID_NONE);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Resource with name 'disk:0' already exists");
    // Names are compared case-sensitively.
    EXPECT_NE(resource("DISK:0", CvStrDup("third")).add(&error), CV_UID_NONE);

    CvResourceTypeInfo typeInfo;
    ASSERT_EQ(CvResource_GetTypeInfo(first, &typeInfo, &error), 1);
    EXPECT_STREQ(static_cast<const char*>(typeInfo.typeData), "first");
}

TEST(ResourceManagerDown, RefusesEverythingAndStillFreesTypeData)
{
    ResourceDouble disk("disk:0", nullptr, CvStrDup("handed over"));
    CvError error;
    CvUID uid = 7;
    EXPECT_EQ(CvResourceManager_Register(disk.descriptor(), &uid, &error), 0);
    EXPECT_EQ(uid, CV_UID_NONE);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Resource manager is uninitialized");

    CvUIDList list;
    EXPECT_EQ(CvResourceManager_GetResourceList(&list, &error), 0);
    EXPECT_STREQ(error.message, "Resource manager is uninitialized");
    EXPECT_EQ(CvResourceManager_LookupResource("disk:0", &uid, &error), 0);
    EXPECT_STREQ(error.message, "Resource manager is uninitialized");
}

TEST_F(ResourceManagerTest, LookupsAreCaseSensitiveAndMissesSucceedWithNoUid)
{
    CvError error;
    const CvUID disk = resource("disk:0").add(&error);
    const CvUID other = resource("disk:1").add(&error);
    ServiceDouble& ata = service("ata/device");
    CvUID ataUid = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(disk, ata.descriptor(), &ataUid, &error), 1) << error.message;
    EXPECT_EQ(ata.registeredUid, ataUid);

    CvUID found = 0;
    ASSERT_EQ(CvResourceManager_LookupResource("disk:1", &found, &error), 1);
    EXPECT_EQ(found, other);
    ASSERT_EQ(CvResourceManager_LookupResource("Disk:1", &found, &error), 1);
    EXPECT_EQ(found, CV_UID_NONE);

    ASSERT_EQ(CvResource_LookupResourceService(disk, "ata/device", &found, &error), 1);
    EXPECT_EQ(found, ataUid);
    for (const char* type : {"scsi/device", "ATA/device"}) {
        found = 0;
        ASSERT_EQ(CvResource_LookupResourceService(disk, type, &found, &error), 1) << type;
        EXPECT_EQ(found, CV_UID_NONE) << type;
    }
    ASSERT_EQ(CvResource_LookupResourceService(other, "ata/device", &found, &error), 1);
    EXPECT_EQ(found, CV_UID_NONE);  // not looked up across resources

    EXPECT_EQ(CvResource_LookupResourceService(424242, "ata/device", &found, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_STREQ(error.message, "Resource with UID 424242 was not found");
}

TEST_F(ResourceManagerTest, OneServicePerTypeOnEachResource)
{
    LogCapture log;
    CvError error;
    const CvUID disk = resource("disk:0").add(&error);
    const CvUID other = resource("disk:1").add(&error);
    CvUID first = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(disk, service("ata/device").descriptor(), &first, &error), 1);
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_INFO, "Resource service added - ResourceID=" + std::to_string(disk) +
                                        " ResourceName='disk:0' ServiceID=" + std::to_string(first) +
                                        " ServiceName='ata/device'"}));

    CvUID second = 7;
    EXPECT_EQ(CvResource_RegisterService(disk, service("ata/device").descriptor(), &second, &error), 0);
    EXPECT_EQ(second, CV_UID_NONE);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_EQ(std::string(error.message), "Resource with UID " + std::to_string(disk) +
                                              " already has a service registered of type 'ata/device'");

    CvUID onOther = CV_UID_NONE;
    EXPECT_EQ(CvResource_RegisterService(other, service("ata/device").descriptor(), &onOther, &error), 1);
    CvUID scsi = CV_UID_NONE;
    EXPECT_EQ(CvResource_RegisterService(disk, service("scsi/device").descriptor(), &scsi, &error), 1);

    CvUIDList list;
    ASSERT_EQ(CvResource_GetServiceList(disk, &list, &error), 1);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.uids[0], first);
    EXPECT_EQ(list.uids[1], scsi);
}

TEST_F(ResourceManagerTest, ServiceOfAnotherResourceIsNotFoundAndInfoIsZeroed)
{
    CvError error;
    const CvUID disk = resource("disk:0").add(&error);
    const CvUID other = resource("disk:1").add(&error);
    CvUID ata = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(disk, service("ata/device").descriptor(), &ata, &error), 1);

    CvServiceInfo info;
    ASSERT_EQ(CvResourceService_GetInfo(disk, ata, &info, &error), 1);
    EXPECT_STREQ(info.type, "ata/device");

    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(CvResourceService_GetInfo(other, ata, &info, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_EQ(std::string(error.message),
              "Resource service with UID " + std::to_string(other) + ":" + std::to_string(ata) + " was not found");
    EXPECT_EQ(info.type[0], 0);
    EXPECT_EQ(info.type[63], 0);

    CvCommand command = corvane_test::EmptyCommand();
    EXPECT_EQ(CvResourceService_ExecuteCommand(other, ata, CV_UID_NONE, &command, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);

    CvResourceInfo resourceInfo;
    std::memset(&resourceInfo, 0xAB, sizeof resourceInfo);
    EXPECT_EQ(CvResource_GetInfo(424242, &resourceInfo, &error), 0);
    EXPECT_EQ(resourceInfo.name[0], 0);
    EXPECT_EQ(resourceInfo.description[255], 0);
}

TEST_F(ResourceManagerTest, UnterminatedNameIsKeptTerminated)
{
    CvResourceDescriptor descriptor = *resource("x").descriptor();
    std::memset(descriptor.info.name, 'n', sizeof descriptor.info.name);
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvResourceManager_Register(&descriptor, &uid, &error), 1);
    CvResourceInfo info;
    ASSERT_EQ(CvResource_GetInfo(uid, &info, &error), 1);
    EXPECT_EQ(std::string(info.name), std::string(255, 'n'));
}

TEST_F(ResourceManagerTest, UnregisteringAServiceLogsAndForgetsIt)
{
    LogCapture log;
    CvError error;
    const CvUID disk = resource("disk:0").add(&error);
    ServiceDouble& ata = service("ata/device");
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(disk, ata.descriptor(), &uid, &error), 1);

    // A refusing dispose keeps the service registered and usable.
    ata.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "still in use"); };
    EXPECT_EQ(CvResource_UnregisterService(disk, uid, &error), 0);
    EXPECT_STREQ(error.message, "still in use");
    CvCommand command = corvane_test::EmptyCommand();
    EXPECT_EQ(CvResourceService_ExecuteCommand(disk, uid, CV_UID_NONE, &command, &error), 1);

    ata.dispose = corvane_test::Succeed;
    ASSERT_EQ(CvResource_UnregisterService(disk, uid, &error), 1);
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_INFO, "Resource service removed - ResourceID=" + std::to_string(disk) +
                                        " ResourceName='disk:0' ServiceID=" + std::to_string(uid) +
                                        " ServiceName='ata/device'"}));
    EXPECT_EQ(CvResource_UnregisterService(disk, uid, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    CvUIDList list;
    ASSERT_EQ(CvResource_GetServiceList(disk, &list, &error), 1);
    EXPECT_EQ(list.count, 0);
}

TEST_F(ResourceManagerTest, FailingDisposalsDuringUnregister)
{
    LogCapture log;
    CvError error;
    ResourceDouble& disk = resource("disk:0");
    const CvUID uid = disk.add(&error);
    ServiceDouble& ata = service("ata/device");
    ata.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "device busy"); };
    CvUID ataUid = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(uid, ata.descriptor(), &ataUid, &error), 1);
    disk.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "resource pinned"); };

    // The service goes despite its refusal; the resource stays, without services.
    EXPECT_EQ(CvResourceManager_Unregister(uid, &error), 0);
    EXPECT_STREQ(error.message, "resource pinned");
    const std::string ids = std::to_string(ataUid) + ":'ata/device') while unregistering its resource (" +
                            std::to_string(uid) + ":'disk:0'): device busy";
    EXPECT_EQ(log.messages().at(log.messages().size() - 2), "Error while disposing of service (" + ids);
    CvUIDList list;
    ASSERT_EQ(CvResource_GetServiceList(uid, &list, &error), 1);
    EXPECT_EQ(list.count, 0);

    disk.dispose = corvane_test::Succeed;
    EXPECT_EQ(CvResourceManager_Unregister(uid, &error), 1);
    EXPECT_EQ(CvResource_GetServiceList(uid, &list, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
}

TEST_F(ResourceManagerTest, ShutDownDisposesEverythingAndLogsRefusals)
{
    LogCapture log;
    CvError error;
    ResourceDouble& disk = resource("disk:0", CvStrDup("type data"));
    const CvUID uid = disk.add(&error);
    ServiceDouble& ata = service("ata/device");
    ata.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "device busy"); };
    CvUID ataUid = CV_UID_NONE;
    ASSERT_EQ(CvResource_RegisterService(uid, ata.descriptor(), &ataUid, &error), 1);
    disk.dispose = [](CvError* e) { return CvSetThreadError(e, CV_ERROR_FAILED, "resource pinned"); };

    ASSERT_EQ(CvResourceManager_Uninitialize(&error), 1);
    const std::string resourceIds = std::to_string(uid) + ":'disk:0'";
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "Resource added - ResourceID=" + std::to_string(uid) + " ResourceName='disk:0'",
                  "Resource service added - ResourceID=" + std::to_string(uid) +
                      " ResourceName='disk:0' ServiceID=" + std::to_string(ataUid) + " ServiceName='ata/device'",
                  "Error while disposing of resource service (" + std::to_string(ataUid) + ":'ata/device') on resource (" +
                      resourceIds + ") while unitializing the resource manager: device busy",
                  "Resource service removed - ResourceID=" + std::to_string(uid) +
                      " ResourceName='disk:0' ServiceID=" + std::to_string(ataUid) + " ServiceName='ata/device'",
                  "Error while disposing of resource (" + resourceIds +
                      ") while unitializing the resource manager: resource pinned",
                  "Resource removed - ResourceID=" + std::to_string(uid) + " ResourceName='disk:0'",
              }));
    EXPECT_EQ(CvResource_GetInfo(uid, nullptr, &error), 0);
    EXPECT_STREQ(error.message, "Resource manager is uninitialized");
    EXPECT_EQ(CvResourceManager_Uninitialize(&error), 0);
    EXPECT_STREQ(error.message, "Resource manager is uninitialized");
    CvResourceManager_Initialize();  // for the fixture's shut-down
}

}  // namespace
