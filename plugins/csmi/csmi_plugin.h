// cvpl-csmi: drives on host adapters whose drivers speak CSMI SAS. The ports
// 0 to 255 are probed through their nodes ("PortNode", /dev/csmi%d by
// default); every port that answers the driver-information request becomes a
// "csmi/adapter" resource, and every phy with an end device attached a
// "csmi/device" resource carrying "ata/device" (SATA) or "scsi/device".
#pragma once

#include <corvane.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "csmi_records.h"

namespace csmi {

inline constexpr const char* kDefaultPortNode = "/dev/csmi%d";
inline constexpr int kPortCount = 256;

class Plugin {
public:
    int load(const StringMap* settings, CvError* error);
    int unload(CvError* error);

private:
    // The two listeners: each gives resources of its own type their services.
    static void adapterAdded(void* userData, CvUID resource, const CvResourceInfo* info);
    static void deviceAdded(void* userData, CvUID resource, const CvResourceInfo* info);

    // Step by step through the ports; true when at least one adapter was registered.
    bool enumerate();
    bool setUpAdapter(int number, int fd);
    void listPhys(Adapter& adapter);
    bool known(const void* record) const;
    void attachServices(CvUID resource, const char* wantedType);
    int takeDown(CvError* error);

    mutable std::mutex mutex_;  // the running flag and the adapter list
    bool running_ = false;
    std::string portNode_ = kDefaultPortNode;
    std::vector<std::unique_ptr<Adapter>> adapters_;
    CvHotplugListener deviceListener_{};
    CvHotplugListener adapterListener_{};
};

// Service descriptors of the four service types.
CvServiceDescriptor adapterService(Adapter& adapter);
CvServiceDescriptor deviceService(Device& device);
CvServiceDescriptor ataService(Device& device);
CvServiceDescriptor scsiService(Device& device);

}  // namespace csmi
