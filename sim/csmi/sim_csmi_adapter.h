// A simulated host adapter whose driver speaks CSMI SAS, behind a node of the
// simulated kernel: driver information, phy information (end devices,
// expanders and empty phys), SATA targets answering STP pass-through with
// register FISes and SAS targets answering SSP pass-through, with the header's
// return codes. Vendor command 80h on a SATA target fails the request with EIO
// after its registers came back, as some drivers do.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_kernel.h"
#include "simdrive/drive.h"

namespace simdrive {

struct CsmiPhy {
    uint8_t phyIdentifier = 0;
    uint8_t portIdentifier = 0;  // 0xFF: the driver does not know the port
    uint8_t attachedType = 0;    // 0x10 end device, 0x20 edge expander, 0 nothing
    uint8_t attachedPhyIdentifier = 0;
    uint64_t sasAddress = 0;     // of the attached device
    std::shared_ptr<SimDrive> drive;  // end devices: an ATA drive is a SATA target, a SCSI drive an SSP one
};

class SimCsmiAdapter final : public CsmiNode {
public:
    SimCsmiAdapter(std::string driverName, std::vector<CsmiPhy> phys);

    int request(void* buffer) override;

    // The last STP or SSP request as it arrived, for tests.
    std::vector<uint8_t> lastPassThrough() const;

private:
    const CsmiPhy* target(const uint8_t* sasAddress) const;
    // The fixed part of a pass-through request and the drive of that kind it
    // is addressed to; null, with the return code set, when the buffer is
    // shorter than `smallest` or no such drive is attached.
    template <typename Request, typename Drive>
    Drive* addressed(uint8_t* buffer, uint32_t size, uint32_t smallest, Request& request);
    void driverInfo(uint8_t* buffer, uint32_t size);
    void phyInfo(uint8_t* buffer, uint32_t size);
    int stp(uint8_t* buffer, uint32_t size);
    int ssp(uint8_t* buffer, uint32_t size);

    const std::string driverName_;
    const std::vector<CsmiPhy> phys_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> lastPassThrough_;
};

// Big-endian bytes of a SAS address, as the phy information carries it.
void sasAddressBytes(uint64_t address, uint8_t* bytes);

}  // namespace simdrive
