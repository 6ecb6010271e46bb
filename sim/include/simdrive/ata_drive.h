// A simulated ATA drive: IDENTIFY DEVICE, DOWNLOAD MICROCODE (PIO and, when
// described, DMA) with subcommands 03h, 07h, 0Eh and 0Fh, and a few harmless
// housekeeping commands. Everything else is aborted as ATA devices do.
#pragma once

#include <array>

#include "simdrive/ata_bus.h"
#include "simdrive/download_buffer.h"
#include "simdrive/drive.h"

namespace simdrive {

class AtaDrive final : public SimDrive {
public:
    AtaDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store);

    // The bus entry point: one taskfile command with its data phase.
    BusResult execute(const AtaRequest& request, AtaReply& reply);

private:
    void discardDownloads() override { download_.discard(); }

    void identifyDevice(const AtaRequest& request, AtaReply& reply);
    void downloadMicrocode(const AtaRequest& request, AtaReply& reply);
    void downloadSegment(const AtaRequest& request, AtaReply& reply, uint8_t subcommand);
    void downloadWhole(const AtaRequest& request, AtaReply& reply);
    void activateDeferred(AtaReply& reply);
    // Checks a complete image and installs it, immediately or deferred.
    void installImage(AtaReply& reply, bool deferred);
    void abort(AtaReply& reply);

    SegmentedDownload download_;
};

// The 256 words of IDENTIFY DEVICE data for a description and firmware revision.
std::array<uint16_t, 256> ataIdentifyWords(const DriveDescription& description, const std::string& revision);

}  // namespace simdrive
