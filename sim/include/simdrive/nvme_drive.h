// A simulated NVMe controller with one or more namespaces: Identify (controller,
// namespace, active namespace list), Get Log Page (firmware slot information),
// Firmware Image Download and Firmware Commit, and controller reset.
#pragma once

#include <array>

#include "simdrive/download_buffer.h"
#include "simdrive/drive.h"
#include "simdrive/nvme_bus.h"

namespace simdrive {

class NvmeDrive final : public SimDrive {
public:
    NvmeDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store);

    // The bus entry points: one admin command, and a controller-level reset.
    BusResult submitAdmin(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion);
    BusResult resetController();

private:
    void discardDownloads() override { download_.discard(); }

    void identify(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion);
    void getLogPage(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion);
    void imageDownload(const NvmeAdminCommand& command, std::span<uint8_t> data, NvmeCompletion& completion);
    void commit(const NvmeAdminCommand& command, NvmeCompletion& completion);
    // The slot the controller picks when the host names slot 0; 0 when none can take an image.
    int chooseSlot() const;

    PortionDownload download_;
};

std::array<uint8_t, nvme::kIdentifySize> nvmeIdentifyController(const DriveDescription& description,
                                                                 const FirmwareState& firmware);
std::array<uint8_t, nvme::kIdentifySize> nvmeIdentifyNamespace(const DriveDescription& description);

}  // namespace simdrive
