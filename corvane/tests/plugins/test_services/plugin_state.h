// State of the test-services plug-in: what it registered, the gate, the held
// commands and the worker thread that completes submitted commands. One
// instance per process, reset at every load.
#pragma once

#include <corvane.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_services {

enum class ServiceKind { Plain, Async, Gate };

// User data of one registered service (resource or machine service).
struct ServiceState {
    ServiceKind kind = ServiceKind::Plain;
    std::string type;
    std::string resourceName;         // empty for a machine service
    CvUID resource = CV_UID_NONE;     // CV_UID_NONE for a machine service
    CvUID service = CV_UID_NONE;      // set by the registered notification
};

struct ResourceState {
    std::string name;
    CvUID uid = CV_UID_NONE;
};

// A submitted command the worker has not completed yet.
struct SubmittedCommand {
    ServiceState* service;
    CvCommand* command;
    CvCommandCompletion* completion;
    bool released = false;  // may be completed (held mode)
    bool aborted = false;
};

struct PluginState {
    std::mutex mutex;
    std::condition_variable changed;

    // Guarded by mutex.
    bool gateOpen = false;
    int32_t gateEntered = 0;
    bool holdSubmitted = false;
    bool stopping = false;
    std::deque<SubmittedCommand> submitted;
    std::string journal;
    int32_t serverStarts = 0;
    std::vector<std::pair<std::string, std::string>> lastServerSettings;

    // Touched by the load and unload entry points only.
    std::vector<std::unique_ptr<ServiceState>> services;
    std::vector<std::unique_ptr<ResourceState>> resources;
    std::vector<CvUID> machineServices;
    CvUID server = CV_UID_NONE;
    std::string serverProtocol;
    std::thread worker;

    void note(const std::string& line)
    {
        std::lock_guard lock(mutex);
        journal += line;
        journal += '\n';
    }
};

PluginState& State();

// Registration helpers (services.cpp, server.cpp).
CvServiceDescriptor MakeServiceDescriptor(ServiceState& service);
CvServerDescriptor MakeServerDescriptor(const std::string& name, const std::string& protocol);

// The worker that completes submitted commands.
void WorkerLoop();

}  // namespace test_services
