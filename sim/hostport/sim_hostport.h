// A stand-in for the LSI Fusion-MPT host-port library, built as libhostport.so
// for tests: its ports and devices are simulated drives that the test program
// puts behind them. It exports the library's functions (hostport_api.h) and
// this control interface.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "hostport/hostport_api.h"
#include "simdrive/bus.h"
#include "simdrive/scsi_bus.h"

#define SIM_HOSTPORT_API __attribute__((visibility("default")))

namespace simdrive::hostport {

// The record that names a port to the library.
using PortRecord = std::array<uint8_t, HOSTPORT_PORT_RECORD_SIZE>;
using ScsiExecutor = std::function<BusResult(const ScsiRequest&, ScsiReply&)>;

struct PortDevice {
    std::array<uint32_t, 4> entry{};  // words 0 and 1 address it, word 2 its logical unit, word 3 its phy
    std::string serial;               // what lsiGetSerialNumber answers
    ScsiExecutor execute;             // logical unit 0 of the device
};

// What the last calls carried.
struct Observed {
    std::array<uint8_t, HOSTPORT_REQUEST_SIZE> request{};
    uint32_t control = 0;
    uint32_t timeoutSeconds = 0;
    uint32_t scsiIoCalls = 0;
    uint32_t taskType = 0, taskFlags = 0, taskTag = 0, taskTarget = 0;
    uint32_t primitive = 0, primitiveMode = 0;
    uint8_t primitivePhy = 0;
};

SIM_HOSTPORT_API void resetPorts();
// Creates ports up to `port` as needed.
SIM_HOSTPORT_API void addDevice(uint32_t port, const PortDevice& device);
// The record of that port.
SIM_HOSTPORT_API PortRecord portRecord(uint32_t port);
SIM_HOSTPORT_API Observed observed();
// The response byte of task management, and whether the calls fail.
SIM_HOSTPORT_API void setTaskResponse(uint8_t response);
SIM_HOSTPORT_API void setCallsFail(bool fail);

}  // namespace simdrive::hostport
