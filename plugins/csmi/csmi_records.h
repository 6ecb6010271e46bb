// What cvpl-csmi keeps of the adapters it found and the end devices on their
// phys, and the services it gives them.
#pragma once

#include <corvane.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device/contract_check.h"

namespace csmi {

inline constexpr int32_t kAtaAbilityCount = 10;
inline constexpr uint32_t kDefaultTimeoutSeconds = 60;

struct Adapter;

// One phy with an end device attached.
struct Device {
    Adapter* adapter = nullptr;
    std::atomic<CvUID> resource{CV_UID_NONE};
    std::atomic<CvUID> csmiService{CV_UID_NONE};
    std::atomic<CvUID> ataService{CV_UID_NONE};
    std::atomic<CvUID> scsiService{CV_UID_NONE};
    uint8_t phyIdentifier = 0;  // the attached phy's identifier
    uint8_t portIdentifier = 0; // the phy's port, or the phy itself when the port is not known
    std::array<uint8_t, 8> sasAddress{};
    uint8_t targetProtocol = 0;
    std::mutex mutex;  // held while a request buffer is filled
    std::atomic<uint32_t> timeoutSeconds{0};
    std::array<AtaAbility, kAtaAbilityCount> ataAbilities{};
    std::array<ScsiAbility, DEVICE_SCSI_ABILITY_COUNT> scsiAbilities{};
    DeviceContractRules ataRules{};
    DeviceContractRules scsiRules{};

    bool sata() const;
};

// One SCSI port whose driver answered the driver-information request.
struct Adapter {
    int number = 0;
    int fd = -1;
    std::atomic<CvUID> resource{CV_UID_NONE};
    std::atomic<CvUID> service{CV_UID_NONE};
    std::vector<std::unique_ptr<Device>> devices;
    std::recursive_mutex mutex;  // guards the device list while it is built
};

// A device record with its ability lists and contract rules filled.
std::unique_ptr<Device> makeDevice(Adapter& adapter);

// What functions 0 to 5 answer on one device service type.
struct QueryAnswers {
    const char* kind;  // "ATA" or "SCSI", as the setting messages name it
    uint32_t capabilities;
    int32_t abilityCount;
    const uint8_t* abilities;
    std::size_t abilitySize;
};

// Functions 0 to 5 of a command that passed the contract checks: capabilities,
// settings support, the time-out setting (whole seconds, given in
// nanoseconds) and the abilities.
int answerQuery(Device& device, CvCommand* command, const QueryAnswers& answers, CvError* error);

// The two device service types.
int executeAta(Device& device, CvCommand* command, CvError* error);
int executeScsi(Device& device, CvCommand* command, CvError* error);

}  // namespace csmi
