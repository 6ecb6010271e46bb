// The part of the controller maker's storage management SDK that arcshim
// uses: the library handle, the system configuration with its object tree,
// byte buffers, SCSI commands and the hard drive's SCSI pass-through. The
// maker's library is a C++ library that ships without this header; these
// declarations are what arcshim is compiled against, and the simulated
// library (sim/arcsdk) implements exactly them.
//
// To use the maker's library instead of the simulated one, build arcshim
// with -DFIRMSTEP_ARCSDK_LIBRARY=<path of the maker's shared library>: arcshim
// then links that library (soname libstorarc) in place of the simulated one,
// which is neither linked nor installed. The maker's library must export
// these classes with these signatures.
#pragma once

#include <cstdint>
#include <vector>

namespace arcSDK {

// The result of an SDK call; code 0 is success, anything else the SDK's error.
struct Ret {
    int32_t code = 0;
    int32_t detail = 0;  // an SDK-specific detail, 0 when there is none
};

// A byte buffer owned by the SDK's allocator.
class Buffer {
public:
    Buffer();
    explicit Buffer(uint32_t size);  // allocated and cleared
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    bool Alloc(uint32_t size);  // replaces the contents with `size` zero bytes
    void Clear();               // sets every byte to 0
    uint8_t* data();
    const uint8_t* data() const;
    uint32_t size() const;

private:
    uint8_t* bytes_ = nullptr;
    uint32_t size_ = 0;
};

// One SCSI command for a drive: its CDB, the direction of its data and the
// buffer that data comes from or goes to. Buffers are the caller's and must
// outlive the command.
class SCSICommand {
public:
    enum Direction : int32_t { DataIn = 0, DataOut = 1, NoData = 5 };

    SCSICommand(Buffer& cdb, int32_t direction);
    void setReadData(Buffer& data);
    void setWriteData(Buffer& data);

    const Buffer& cdb() const { return *cdb_; }
    int32_t direction() const { return direction_; }
    Buffer* data() const { return data_; }

private:
    Buffer* cdb_;
    int32_t direction_;
    Buffer* data_ = nullptr;
};

// A node of the configuration: the system, a controller, an array, a drive...
class RaidObject {
public:
    virtual ~RaidObject();
    // Children in the SDK's order; valid while the configuration is loaded.
    std::vector<RaidObject*> getChildren() const;
    // Whether the object is of the named class ("HardDrive", "Controller", ...).
    bool isA(const char* className) const;
    const char* className() const;

protected:
    explicit RaidObject(const char* className);
    void addChild(RaidObject* child);

private:
    const char* className_;
    std::vector<RaidObject*> children_;
};

class HardDrive : public RaidObject {
public:
    // Sends the command to the drive; code 0 when the drive completed it with GOOD status.
    virtual Ret SCSIPassThru(SCSICommand& command) = 0;

protected:
    HardDrive();
};

class StorLib {
public:
    virtual ~StorLib();
    // Loads the configuration into `configuration` (65 536 bytes suffice) and
    // sets `system` to the system object, or to null when there is none. The
    // objects stay valid until the library is released.
    virtual Ret getSystemConfig(Buffer& configuration, RaidObject** system) = 0;
};

class StorLibSDK {
public:
    StorLibSDK();
    ~StorLibSDK();
    StorLibSDK(const StorLibSDK&) = delete;
    StorLibSDK& operator=(const StorLibSDK&) = delete;

    // The library object, owned by this SDK instance.
    StorLib* getLibHandle();

private:
    StorLib* lib_;
};

}  // namespace arcSDK
