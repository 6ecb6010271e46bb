// A bridge registered straight from a test: its machines record which slot of
// the machine descriptor each call reached and with which arguments, and the
// test decides what the initialiser, the submit and the dispose functions do.
#pragma once

#include <corvane.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane_test {

struct FakeMachine {
    CvUID uid = CV_UID_NONE;
    std::string url;  // as the initialiser saw it
    std::function<int(CvError*)> submit = [](CvError* error) { return CvSetNoThreadError(error); };
    std::function<int(CvError*)> dispose = [](CvError* error) { return CvSetNoThreadError(error); };

    // "slot arg arg ..." for every call, in order.
    std::vector<std::string> calls() const
    {
        std::lock_guard lock(mutex);
        return calls_;
    }
    void record(std::string call)
    {
        std::lock_guard lock(mutex);
        calls_.push_back(std::move(call));
    }
    int disposed() const
    {
        std::lock_guard lock(mutex);
        return disposed_;
    }
    void markDisposed()
    {
        std::lock_guard lock(mutex);
        ++disposed_;
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> calls_;
    int disposed_ = 0;
};

class FakeBridge {
public:
    // What the initialiser does before filling the slots; 0 fails the creation.
    std::function<int(CvUID, CvError*)> beforeInitialize = [](CvUID, CvError* error) {
        return CvSetNoThreadError(error);
    };
    std::function<int(CvError*)> dispose = [](CvError* error) { return CvSetNoThreadError(error); };

    explicit FakeBridge(const char* protocol, const char* name = "Fake Bridge")
    {
        std::memset(&descriptor_, 0, sizeof descriptor_);
        std::strncpy(descriptor_.info.name, name, sizeof descriptor_.info.name - 1);
        std::strncpy(descriptor_.info.description, "A bridge of the tests", sizeof descriptor_.info.description - 1);
        std::strncpy(descriptor_.info.protocol, protocol, sizeof descriptor_.info.protocol - 1);
        descriptor_.userData = this;
        descriptor_.initializeMachineDescriptor = Initialize;
        descriptor_.dispose = [](void* self, CvError* error) { return static_cast<FakeBridge*>(self)->dispose(error); };
    }
    FakeBridge(const FakeBridge&) = delete;
    FakeBridge& operator=(const FakeBridge&) = delete;

    const CvBridgeDescriptor& descriptor() const { return descriptor_; }

    // Registers the bridge; its UID, or CV_UID_NONE.
    CvUID add()
    {
        CvError error;
        CvBridgeManager_Register(&descriptor_, &uid, &error);
        return uid;
    }

    // The machines this bridge initialised, in order (also those whose creation
    // the test made fail).
    FakeMachine& machine(std::size_t index)
    {
        std::lock_guard lock(mutex_);
        return *machines_.at(index);
    }
    std::size_t machineCount()
    {
        std::lock_guard lock(mutex_);
        return machines_.size();
    }

    CvUID uid = CV_UID_NONE;

private:
    static FakeMachine& M(void* userData) { return *static_cast<FakeMachine*>(userData); }
    static int Ok(void* userData, std::string call, CvError* error)
    {
        M(userData).record(std::move(call));
        return CvSetNoThreadError(error);
    }
    static std::string U(CvUID uid) { return std::to_string(static_cast<int>(uid)); }

    static int Initialize(void* self, CvUID uid, CvMachineDescriptor* d, CvError* error)
    {
        auto& bridge = *static_cast<FakeBridge*>(self);
        FakeMachine* machine = nullptr;
        {
            std::lock_guard lock(bridge.mutex_);
            machine = bridge.machines_.emplace_back(std::make_unique<FakeMachine>()).get();
        }
        machine->uid = uid;
        machine->url = d->url;
        if (bridge.beforeInitialize(uid, error) == 0) return 0;
        d->userData = machine;
        d->connect = [](void* u, const StringMap* s, CvError* e) { return Ok(u, s ? "connect map" : "connect", e); };
        d->disconnect = [](void* u, CvError* e) { return Ok(u, "disconnect", e); };
        d->isConnected = [](void* u, int* c, CvError* e) {
            *c = 1;
            return Ok(u, "isConnected", e);
        };
        d->setEventListener = [](void* u, CvHotplugListener* l, CvHotplugListener** p, CvError* e) {
            *p = l;
            return Ok(u, "setEventListener", e);
        };
        d->setLoggingListener = [](void* u, CvLogListener* l, CvLogListener** p, CvError* e) {
            *p = l;
            return Ok(u, "setLoggingListener", e);
        };
        d->getResourceList = [](void* u, CvUIDList* l, CvError* e) {
            l->count = 0;
            return Ok(u, "getResourceList", e);
        };
        d->getMachineServiceList = [](void* u, CvUIDList* l, CvError* e) {
            l->count = 0;
            return Ok(u, "getMachineServiceList", e);
        };
        d->machineServiceGetInfo = [](void* u, CvUID s, CvServiceInfo*, CvError* e) {
            return Ok(u, "machineServiceGetInfo " + U(s), e);
        };
        d->machineServiceExecuteCommand = [](void* u, CvUID s, CvCommand* c, CvError* e) {
            return Ok(u, "machineServiceExecute " + U(s) + " " + std::to_string(c->function), e);
        };
        d->machineServiceSubmitCommand = [](void* u, CvUID s, CvCommand*, CvCommandCompletion*, CvError* e) {
            M(u).record("machineServiceSubmit " + U(s));
            return M(u).submit(e);
        };
        d->machineServiceAbortCommand = [](void* u, CvUID s, uint32_t t, CvError* e) {
            return Ok(u, "machineServiceAbort " + U(s) + " " + std::to_string(t), e);
        };
        d->resourceGetInfo = [](void* u, CvUID r, CvResourceInfo*, CvError* e) {
            return Ok(u, "resourceGetInfo " + U(r), e);
        };
        d->resourceGetServiceList = [](void* u, CvUID r, CvUIDList* l, CvError* e) {
            l->count = 0;
            return Ok(u, "resourceGetServiceList " + U(r), e);
        };
        d->resourceServiceGetInfo = [](void* u, CvUID r, CvUID s, CvServiceInfo*, CvError* e) {
            return Ok(u, "resourceServiceGetInfo " + U(r) + " " + U(s), e);
        };
        d->resourceServiceExecuteCommand = [](void* u, CvUID r, CvUID s, CvCommand* c, CvError* e) {
            return Ok(u, "resourceServiceExecute " + U(r) + " " + U(s) + " " + std::to_string(c->function), e);
        };
        d->resourceServiceSubmitCommand = [](void* u, CvUID r, CvUID s, CvCommand*, CvCommandCompletion*,
                                             CvError* e) {
            M(u).record("resourceServiceSubmit " + U(r) + " " + U(s));
            return M(u).submit(e);
        };
        d->resourceServiceAbortCommand = [](void* u, CvUID r, CvUID s, uint32_t t, CvError* e) {
            return Ok(u, "resourceServiceAbort " + U(r) + " " + U(s) + " " + std::to_string(t), e);
        };
        d->dispose = [](void* u, CvError* e) {
            if (M(u).dispose(e) == 0) return 0;
            M(u).markDisposed();
            return CvSetNoThreadError(e);
        };
        return CvSetNoThreadError(error);
    }

    CvBridgeDescriptor descriptor_;
    std::mutex mutex_;
    std::deque<std::unique_ptr<FakeMachine>> machines_;
};

}  // namespace corvane_test
