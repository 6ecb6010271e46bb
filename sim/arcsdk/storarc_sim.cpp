// The simulated storage SDK (libstorarc.so): the classes arcshim uses, with a
// system object whose controllers, arrays and hard drives come from a
// controller farm (sim/csmi/controller_farm.h) read at every configuration
// load from the file SIM_ARCSDK_FARM names, or "arcsdk-farm.properties" in the
// working directory:
//
//   Controllers=0                  the controllers of the system
//   Controller.0=vt-sata1, vt-sas1 drives on controller 0, outside any array
//   Array.0=other-sas              drives of an array on controller 0
//
// A hard drive takes SCSI commands the way a Linux disk takes SG_IO: an ATA
// drive answers SAT ATA PASS-THROUGH, a SCSI drive any CDB (and refuses the
// ATA one). Without a farm file there is no system.
#include <scsi/sg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "arcsdk/storlib_sdk.h"
#include "controller_farm.h"
#include "sg_answer.h"

namespace arcSDK {

Buffer::Buffer() = default;
Buffer::Buffer(uint32_t size) { Alloc(size); }
Buffer::~Buffer() { delete[] bytes_; }

bool Buffer::Alloc(uint32_t size) {
    delete[] bytes_;
    bytes_ = size != 0 ? new uint8_t[size]() : nullptr;
    size_ = size;
    return true;
}

void Buffer::Clear() {
    if (bytes_ != nullptr) std::memset(bytes_, 0, size_);
}
uint8_t* Buffer::data() { return bytes_; }
const uint8_t* Buffer::data() const { return bytes_; }
uint32_t Buffer::size() const { return size_; }

SCSICommand::SCSICommand(Buffer& cdb, int32_t direction) : cdb_(&cdb), direction_(direction) {}
void SCSICommand::setReadData(Buffer& data) { data_ = &data; }
void SCSICommand::setWriteData(Buffer& data) { data_ = &data; }

RaidObject::RaidObject(const char* className) : className_(className) {}
RaidObject::~RaidObject() = default;
std::vector<RaidObject*> RaidObject::getChildren() const { return children_; }
bool RaidObject::isA(const char* className) const { return std::strcmp(className_, className) == 0; }
const char* RaidObject::className() const { return className_; }
void RaidObject::addChild(RaidObject* child) { children_.push_back(child); }

HardDrive::HardDrive() : RaidObject("HardDrive") {}
StorLib::~StorLib() = default;

namespace {

constexpr int32_t kCommandNotDelivered = -1;
constexpr int32_t kNoConfiguration = -2;

class Node final : public RaidObject {
public:
    explicit Node(const char* className) : RaidObject(className) {}
    using RaidObject::addChild;
};

class SimHardDrive final : public HardDrive {
public:
    explicit SimHardDrive(std::shared_ptr<simdrive::SimDrive> drive) : drive_(std::move(drive)) {}

    Ret SCSIPassThru(SCSICommand& command) override {
        Buffer* data = command.data();
        sg_io_hdr request{};
        request.interface_id = 'S';
        request.cmdp = const_cast<unsigned char*>(command.cdb().data());
        request.cmd_len = static_cast<unsigned char>(command.cdb().size());
        request.dxfer_direction = command.direction() == SCSICommand::DataIn    ? SG_DXFER_FROM_DEV
                                  : command.direction() == SCSICommand::DataOut ? SG_DXFER_TO_DEV
                                                                                : SG_DXFER_NONE;
        if (data != nullptr && request.dxfer_direction != SG_DXFER_NONE) {
            request.dxferp = data->data();
            request.dxfer_len = data->size();
        }
        unsigned char sense[32] = {};
        request.sbp = sense;
        request.mx_sb_len = sizeof sense;
        if (simdrive::answerSgIo(*drive_, request) != 0) return {kCommandNotDelivered, errno};
        // Anything but GOOD comes back as the SCSI status.
        return {request.status, request.status != 0 ? sense[2] & 0x0F : 0};
    }

private:
    std::shared_ptr<simdrive::SimDrive> drive_;
};

class SimStorLib final : public StorLib {
public:
    Ret getSystemConfig(Buffer& configuration, RaidObject** system) override {
        *system = nullptr;
        objects_.clear();
        farm_ = std::make_unique<simdrive::ControllerFarm>();
        const char* named = std::getenv("SIM_ARCSDK_FARM");
        const std::string path = named != nullptr && *named != '\0' ? named : "arcsdk-farm.properties";
        if (!std::filesystem::exists(path)) return {kNoConfiguration, 0};
        std::string error;
        if (!farm_->load(path, error)) {
            std::fprintf(stderr, "simulated storage SDK: %s\n", error.c_str());
            return {kNoConfiguration, 0};
        }
        configuration.Clear();
        Node& root = make("System");
        for (const std::string& controller : farm_->list("Controllers")) {
            Node& node = make("Controller");
            root.addChild(&node);
            if (!farm_->list("Array." + controller).empty()) {
                Node& array = make("Array");
                node.addChild(&array);
                if (!addDrives(array, "Array." + controller)) return {kNoConfiguration, 0};
            }
            if (!addDrives(node, "Controller." + controller)) return {kNoConfiguration, 0};
        }
        *system = &root;
        return {};
    }

private:
    Node& make(const char* className) {
        objects_.push_back(std::make_unique<Node>(className));
        return static_cast<Node&>(*objects_.back());
    }

    bool addDrives(Node& parent, const std::string& key) {
        for (const std::string& name : farm_->list(key)) {
            std::shared_ptr<simdrive::SimDrive> drive = farm_->drive(name);
            if (!drive || drive->kind() == simdrive::DriveKind::Nvme) {
                std::fprintf(stderr, "simulated storage SDK: %s: no ATA or SCSI drive '%s'\n", key.c_str(),
                             name.c_str());
                return false;
            }
            objects_.push_back(std::make_unique<SimHardDrive>(std::move(drive)));
            parent.addChild(objects_.back().get());
        }
        return true;
    }

    std::unique_ptr<simdrive::ControllerFarm> farm_;
    std::vector<std::unique_ptr<RaidObject>> objects_;
};

}  // namespace

StorLibSDK::StorLibSDK() : lib_(new SimStorLib()) {}
StorLibSDK::~StorLibSDK() { delete lib_; }
StorLib* StorLibSDK::getLibHandle() { return lib_; }

}  // namespace arcSDK
