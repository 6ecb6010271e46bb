// Resources, services and servers registered straight from a test: each call
// lands in a std::function the test may replace, and dispose calls are written
// to a shared journal so that tests can check their order.
#pragma once

#include <corvane.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace corvane_test {

// Lines in the order they were written, from any thread.
class Journal {
public:
    void add(std::string line)
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline int Succeed(CvError* error) { return CvSetNoThreadError(error); }

class ServiceDouble {
public:
    std::function<int(CvCommand*, CvError*)> execute = [](CvCommand*, CvError* error) { return Succeed(error); };
    std::function<int(CvCommand*, CvCommandCompletion*, CvError*)> submit =
        [](CvCommand*, CvCommandCompletion*, CvError* error) {
            return CvSetThreadError(error, CV_ERROR_FAILED, "Submitting commands not supported");
        };
    std::function<int(uint32_t, CvError*)> abort = [](uint32_t, CvError* error) {
        return CvSetThreadError(error, CV_ERROR_FAILED, "Aborting commands not supported");
    };
    std::function<int(CvError*)> dispose = Succeed;
    CvUID registeredUid = CV_UID_NONE;  // as the registered notification saw it

    ServiceDouble(const char* type, Journal* journal = nullptr) : type_(type), journal_(journal)
    {
        std::memset(&descriptor_, 0, sizeof descriptor_);
        std::strncpy(descriptor_.info.type, type, sizeof descriptor_.info.type - 1);
        descriptor_.userData = this;
        descriptor_.registered = [](void* self, CvUID uid) { static_cast<ServiceDouble*>(self)->registeredUid = uid; };
        descriptor_.execute = [](void* self, CvCommand* command, CvError* error) {
            return static_cast<ServiceDouble*>(self)->execute(command, error);
        };
        descriptor_.submit = [](void* self, CvCommand* command, CvCommandCompletion* completion, CvError* error) {
            return static_cast<ServiceDouble*>(self)->submit(command, completion, error);
        };
        descriptor_.abort = [](void* self, uint32_t tag, CvError* error) {
            return static_cast<ServiceDouble*>(self)->abort(tag, error);
        };
        descriptor_.dispose = [](void* self, CvError* error) {
            auto* service = static_cast<ServiceDouble*>(self);
            if (service->journal_ != nullptr) service->journal_->add("dispose service " + service->type_);
            return service->dispose(error);
        };
    }
    ServiceDouble(const ServiceDouble&) = delete;
    ServiceDouble& operator=(const ServiceDouble&) = delete;

    const CvServiceDescriptor* descriptor() const { return &descriptor_; }

private:
    std::string type_;
    Journal* journal_;
    CvServiceDescriptor descriptor_;
};

class ResourceDouble {
public:
    std::function<int(CvError*)> dispose = Succeed;
    CvUID registeredUid = CV_UID_NONE;

    // typeData: allocated with CvAlloc, handed over at registration (may be null).
    ResourceDouble(const char* name, Journal* journal = nullptr, void* typeData = nullptr)
        : name_(name), journal_(journal)
    {
        std::memset(&descriptor_, 0, sizeof descriptor_);
        std::strncpy(descriptor_.info.name, name, sizeof descriptor_.info.name - 1);
        std::strncpy(descriptor_.info.description, "A resource of the tests", sizeof descriptor_.info.description - 1);
        std::strncpy(descriptor_.typeInfo.typeName, "test/resource", sizeof descriptor_.typeInfo.typeName - 1);
        descriptor_.typeInfo.typeData = typeData;
        descriptor_.userData = this;
        descriptor_.registered = [](void* self, CvUID uid) {
            static_cast<ResourceDouble*>(self)->registeredUid = uid;
        };
        descriptor_.dispose = [](void* self, CvError* error) {
            auto* resource = static_cast<ResourceDouble*>(self);
            if (resource->journal_ != nullptr) resource->journal_->add("dispose resource " + resource->name_);
            return resource->dispose(error);
        };
    }
    ResourceDouble(const ResourceDouble&) = delete;
    ResourceDouble& operator=(const ResourceDouble&) = delete;

    const CvResourceDescriptor* descriptor() const { return &descriptor_; }

    // Registers the resource; its UID, or CV_UID_NONE with the error filled.
    CvUID add(CvError* error)
    {
        CvUID uid = CV_UID_NONE;
        CvResourceManager_Register(&descriptor_, &uid, error);
        return uid;
    }

private:
    std::string name_;
    Journal* journal_;
    CvResourceDescriptor descriptor_;
};

// A command of the given function code with no buffers, tag "not submitted".
inline CvCommand EmptyCommand(uint8_t function = 0)
{
    CvCommand command;
    std::memset(&command, 0, sizeof command);
    command.function = function;
    command.tag = CV_COMMAND_TAG_NONE;
    return command;
}

}  // namespace corvane_test
