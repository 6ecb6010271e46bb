// Machine services (the services of the computer as a whole) and servers.
#include <corvane.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "poll_watch.h"
#include "resource_fixture.h"
#include "service_doubles.h"

namespace {

using corvane_test::EmptyCommand;
using corvane_test::LogCapture;
using corvane_test::LogLine;
using corvane_test::Polls;
using corvane_test::ServiceDouble;

TEST(MachineServicesDown, LookupHasItsOwnUninitializedText)
{
    CvError error;
    CvUID uid = 3;
    EXPECT_EQ(CvMachineServiceManager_LookupMachineService("test/x", &uid, &error), 0);
    EXPECT_EQ(uid, CV_UID_NONE);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Machine serivec manager is uninitialized");
    CvUIDList list;
    EXPECT_EQ(CvMachineServiceManager_GetMachineServiceList(&list, &error), 0);
    EXPECT_STREQ(error.message, "Machine service manager is uninitialized");
    EXPECT_EQ(CvServerManager_LookupServer("cv-tcpip", &uid, &error), 0);
    EXPECT_STREQ(error.message, "Server manager is uninitialized");
}

using MachineServiceTest = corvane_test::ResourceFixture;

TEST_F(MachineServiceTest, RegistersOneServicePerTypeAndFindsItByExactType)
{
    LogCapture log;
    ServiceDouble& first = service("test/machine");
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_Register(first.descriptor(), &uid, &error), 1) << error.message;
    EXPECT_EQ(first.registeredUid, uid);
    EXPECT_EQ(log.lines().back(), (LogLine{CV_LOG_INFO, "Machine service added - ServiceID=" + std::to_string(uid) +
                                                            " ServiceType='test/machine'"}));

    CvUID second = 5;
    EXPECT_EQ(CvMachineServiceManager_Register(service("test/machine").descriptor(), &second, &error), 0);
    EXPECT_EQ(second, CV_UID_NONE);
    EXPECT_EQ(error.code, CV_ERROR_FAILED);
    EXPECT_STREQ(error.message, "Machine already has a service registered of type 'test/machine'");

    CvUID found = 0;
    ASSERT_EQ(CvMachineServiceManager_LookupMachineService("test/machine", &found, &error), 1);
    EXPECT_EQ(found, uid);
    ASSERT_EQ(CvMachineServiceManager_LookupMachineService("Test/Machine", &found, &error), 1);
    EXPECT_EQ(found, CV_UID_NONE);

    CvServiceInfo info;
    ASSERT_EQ(CvMachineService_GetInfo(uid, &info, &error), 1);
    EXPECT_STREQ(info.type, "test/machine");
    std::memset(&info, 0x11, sizeof info);
    EXPECT_EQ(CvMachineService_GetInfo(uid + 1000, &info, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_EQ(std::string(error.message), "Machine service with UID " + std::to_string(uid + 1000) + " was not found");
    EXPECT_EQ(info.type[0], 0);
}

TEST_F(MachineServiceTest, CommandsPassTheBufferCheckThenReachTheService)
{
    ServiceDouble& machine = service("test/machine");
    std::vector<std::string> calls;
    machine.execute = [&](CvCommand* command, CvError* error) {
        calls.push_back("execute " + std::to_string(command->function));
        return CvSetNoThreadError(error);
    };
    machine.abort = [&](uint32_t tag, CvError* error) {
        calls.push_back("abort " + std::to_string(tag));
        return CvSetNoThreadError(error);
    };
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_Register(machine.descriptor(), &uid, &error), 1);

    CvCommand bad = EmptyCommand();
    bad.bufferLengths[0] = 24;
    EXPECT_EQ(CvMachineService_ExecuteCommand(424242, 0, &bad, &error), 0);  // before the look-up
    EXPECT_EQ(error.code, CV_ERROR_INVALID_INPUT);
    EXPECT_STREQ(error.message, "Data buffer 0 is null but has a length of 24 bytes");

    CvCommand command = EmptyCommand(3);
    EXPECT_EQ(CvMachineService_ExecuteCommand(uid, 0, &command, &error), 1);
    EXPECT_EQ(CvMachineService_AbortCommand(uid, 0, 77, &error), 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"execute 3", "abort 77"}));
}

TEST_F(MachineServiceTest, AcceptedSubmitHoldsUnregisteringUntilTheNotice)
{
    LogCapture log;
    ServiceDouble& machine = service("test/machine");
    machine.submit = [](CvCommand*, CvCommandCompletion*, CvError* error) { return CvSetNoThreadError(error); };
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_Register(machine.descriptor(), &uid, &error), 1);
    CvCommand command = EmptyCommand();
    CvCommandCompletion completion{};
    ASSERT_EQ(CvMachineService_SubmitCommand(uid, 0, &command, &completion, &error), 1);

    std::atomic<bool> unregistered = false;
    const int polls = Polls().count();
    std::thread remover([&] {
        CvError removeError;
        EXPECT_EQ(CvMachineServiceManager_Unregister(uid, &removeError), 1) << removeError.message;
        unregistered = true;
    });
    Polls().waitFor(polls + 1);
    EXPECT_FALSE(unregistered);
    CvMachineService_NotifyCommandCompleted(uid);
    remover.join();
    EXPECT_EQ(log.lines().back(), (LogLine{CV_LOG_INFO, "Machine service removed - ServiceID=" + std::to_string(uid) +
                                                            " ServiceType='test/machine'"}));

    CvMachineService_NotifyCommandCompleted(uid);
    EXPECT_EQ(log.lines().back(),
              (LogLine{CV_LOG_ERROR, "Machine service with UID " + std::to_string(uid) +
                                         " was not found when doing command complete notify"}));
}

TEST_F(MachineServiceTest, NoticeWithoutAnOutstandingCommandIsLoggedAndIgnored)
{
    ServiceDouble& machine = service("test/machine");
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvMachineServiceManager_Register(machine.descriptor(), &uid, &error), 1);
    LogCapture log;
    CvMachineService_NotifyCommandCompleted(uid);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{CV_LOG_ERROR, "Machine service with UID " + std::to_string(uid) +
                                                                    " has no submitted command outstanding when "
                                                                    "doing command complete notify"}}));
    // The counts stayed at 0: removing the service does not wait.
    const int polls = Polls().count();
    EXPECT_EQ(CvMachineServiceManager_Unregister(uid, &error), 1) << error.message;
    EXPECT_EQ(Polls().count(), polls);
}

TEST_F(MachineServiceTest, UnregisteringDuringDisposalIsRefused)
{
    ServiceDouble& machine = service("test/machine");
    CvUID uid = CV_UID_NONE;
    std::string during;
    machine.dispose = [&](CvError* error) {
        CvError again;
        CvMachineServiceManager_Unregister(uid, &again);
        during = again.message;
        return CvSetThreadError(error, CV_ERROR_FAILED, "not now");
    };
    CvError error;
    ASSERT_EQ(CvMachineServiceManager_Register(machine.descriptor(), &uid, &error), 1);
    EXPECT_EQ(CvMachineServiceManager_Unregister(uid, &error), 0);
    EXPECT_EQ(during, "Machine service with UID " + std::to_string(uid) + " is being disposed");
    EXPECT_STREQ(error.message, "not now");
    // A refused disposal leaves it registered and usable.
    CvCommand command = EmptyCommand();
    EXPECT_EQ(CvMachineService_ExecuteCommand(uid, 0, &command, &error), 1);

    LogCapture log;
    ASSERT_EQ(CvMachineServiceManager_Uninitialize(&error), 1);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"Error while disposing of machine service (" + std::to_string(uid) +
                                            ":'test/machine') while unitializing the machine service manager: not now",
                                        "Machine service removed - ServiceID=" + std::to_string(uid) +
                                            " ServiceType='test/machine'"}));
    CvMachineServiceManager_Initialize();
}

// A server whose functions record their calls.
class ServerDouble {
public:
    std::vector<std::string> calls;
    std::function<int(CvError*)> dispose = corvane_test::Succeed;

    explicit ServerDouble(const char* protocol, const char* name = "Test Server")
    {
        std::memset(&descriptor_, 0, sizeof descriptor_);
        std::strncpy(descriptor_.info.name, name, sizeof descriptor_.info.name - 1);
        std::strncpy(descriptor_.info.protocol, protocol, sizeof descriptor_.info.protocol - 1);
        descriptor_.userData = this;
        descriptor_.start = [](void* self, StringMap* settings, CvError* error) {
            const char* port = settings != nullptr ? StringMap_GetValue(settings, "Port") : nullptr;
            static_cast<ServerDouble*>(self)->calls.push_back(std::string("start ") + (port ? port : "-"));
            return CvSetNoThreadError(error);
        };
        descriptor_.stop = [](void* self, CvError* error) {
            static_cast<ServerDouble*>(self)->calls.push_back("stop");
            return CvSetNoThreadError(error);
        };
        descriptor_.getClientList = [](void* self, CvUIDList* list, CvError* error) {
            static_cast<ServerDouble*>(self)->calls.push_back("clients");
            list->count = 1;
            list->uids[0] = 31;
            return CvSetNoThreadError(error);
        };
        descriptor_.getClientInfo = [](void* self, CvUID client, void* info, CvError* error) {
            static_cast<ServerDouble*>(self)->calls.push_back("client " + std::to_string(client));
            std::strcpy(static_cast<char*>(info), "client record");
            return CvSetNoThreadError(error);
        };
        descriptor_.dispose = [](void* self, CvError* error) { return static_cast<ServerDouble*>(self)->dispose(error); };
    }
    const CvServerDescriptor* descriptor() const { return &descriptor_; }

private:
    CvServerDescriptor descriptor_;
};

class ServerTest : public corvane_test::ResourceFixture {
protected:
    ServerDouble& server(const char* protocol, const char* name = "Test Server")
    {
        return *servers_.emplace_back(std::make_unique<ServerDouble>(protocol, name));
    }

private:
    std::deque<std::unique_ptr<ServerDouble>> servers_;
};

TEST_F(ServerTest, LookupByProtocolIsCaseSensitive)
{
    LogCapture log;
    CvError error;
    CvUID tcpip = CV_UID_NONE;
    ASSERT_EQ(CvServerManager_Register(server("cv-tcpip").descriptor(), &tcpip, &error), 1);
    CvUID second = CV_UID_NONE;  // no duplicate check: the first registered wins look-ups
    ASSERT_EQ(CvServerManager_Register(server("cv-tcpip", "Second").descriptor(), &second, &error), 1);
    EXPECT_TRUE(log.lines().empty());

    CvUID found = 0;
    ASSERT_EQ(CvServerManager_LookupServer("cv-tcpip", &found, &error), 1);
    EXPECT_EQ(found, tcpip);
    for (const char* protocol : {"CV-TCPIP", "Cv-Tcpip", "cv-tcp"}) {
        found = 0;
        ASSERT_EQ(CvServerManager_LookupServer(protocol, &found, &error), 1) << protocol;
        EXPECT_EQ(found, CV_UID_NONE) << protocol;
    }
    CvUIDList list;
    ASSERT_EQ(CvServerManager_GetServerList(&list, &error), 1);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.uids[1], second);
}

TEST_F(ServerTest, CallsReachTheServerWithTheirArguments)
{
    ServerDouble& tcpip = server("cv-tcpip");
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvServerManager_Register(tcpip.descriptor(), &uid, &error), 1);

    StringMap* settings = StringMap_Create();
    StringMap_SetValue(settings, "Port", "15585");
    EXPECT_EQ(CvServer_Start(uid, settings, &error), 1);
    StringMap_Destroy(settings);
    EXPECT_EQ(CvServer_Start(uid, nullptr, &error), 1);
    CvUIDList list;
    EXPECT_EQ(CvServer_GetClientList(uid, &list, &error), 1);
    EXPECT_EQ(list.count, 1);
    char record[64] = {};
    EXPECT_EQ(CvServerClient_GetInfo(uid, 31, record, &error), 1);
    EXPECT_STREQ(record, "client record");
    EXPECT_EQ(CvServer_Stop(uid, &error), 1);
    EXPECT_EQ(tcpip.calls, (std::vector<std::string>{"start 15585", "start -", "clients", "client 31", "stop"}));

    CvServerInfo info;
    ASSERT_EQ(CvServer_GetInfo(uid, &info, &error), 1);
    EXPECT_STREQ(info.name, "Test Server");
    EXPECT_STREQ(info.protocol, "cv-tcpip");
    std::memset(&info, 0x22, sizeof info);
    EXPECT_EQ(CvServer_GetInfo(uid + 1000, &info, &error), 0);
    EXPECT_EQ(std::string(error.message), "Server with UID " + std::to_string(uid + 1000) + " was not found");
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
    EXPECT_EQ(info.protocol[63], 0);
    EXPECT_EQ(CvServer_Start(uid + 1000, nullptr, &error), 0);
    EXPECT_EQ(error.code, CV_ERROR_NOT_FOUND);
}

TEST_F(ServerTest, DisposeFailureKeepsItUntilShutDown)
{
    ServerDouble& tcpip = server("cv-tcpip", "TCP/IP Access Server");
    tcpip.dispose = [](CvError* error) { return CvSetThreadError(error, CV_ERROR_FAILED, "clients connected"); };
    CvError error;
    CvUID uid = CV_UID_NONE;
    ASSERT_EQ(CvServerManager_Register(tcpip.descriptor(), &uid, &error), 1);
    EXPECT_EQ(CvServerManager_Unregister(uid, &error), 0);
    EXPECT_STREQ(error.message, "clients connected");
    EXPECT_EQ(CvServer_Stop(uid, &error), 1);

    LogCapture log;
    ASSERT_EQ(CvServerManager_Uninitialize(&error), 1);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{CV_LOG_ERROR, "Error while disposing of server server (" +
                                                                    std::to_string(uid) +
                                                                    ":'TCP/IP Access Server') while unitializing "
                                                                    "the server server manager: clients connected"}}));
    CvServerManager_Initialize();
}

}  // namespace
