// Firmware download and activation for ATA drives: DOWNLOAD MICROCODE (0x92) or
// DOWNLOAD MICROCODE DMA (0x93) through the drive's "ata/device" service.
#pragma once

#include "drive_table.h"
#include "update_request.h"

#include <corvane.h>

#include <cstdint>
#include <span>

namespace firmstep {

inline constexpr std::uint8_t kAtaSubcommandDownloadAndSave = 0x03;
inline constexpr std::uint8_t kAtaSubcommandDeferred = 0x0E;
inline constexpr std::uint8_t kAtaSubcommandActivate = 0x0F;
inline constexpr std::uint32_t kAtaBlockSize = 512;
// Block offsets and counts travel in 16 bits.
inline constexpr std::uint32_t kAtaMaxImageBlocks = 0xFFFF;

struct AtaDownloadOptions {
    std::uint8_t subcommand = kAtaSubcommandDownloadAndSave;
    bool dma = false;
    bool debug = false;
    std::int32_t sdsbPort = 0;
};

// One attempt at sending the whole image, segment by segment, each segment of
// at most `transferLength` bytes pointing straight into `image`. The image must
// be whole blocks and fewer than 65,536 of them, and the transfer length at
// least one block; the per-drive step refuses anything else before calling.
// Returns 1, or 0 with `error` set (the call's error, or the ATA error register
// and "Firmware download failed" when the drive refused a segment).
int AtaDownload(CvUID machine, AccessPath path, std::span<std::uint8_t> image, std::uint32_t transferLength,
                const AtaDownloadOptions& options, CvError& error);

// One attempt at activating downloaded firmware (subcommand 0x0F, no data).
int AtaActivate(CvUID machine, AccessPath path, const AtaDownloadOptions& options, CvError& error);

// Why an image or transfer length cannot be sent to an ATA drive; sets `error`
// (code 4) and returns false, or returns true when they can. `fileName` names
// the image in the message.
bool CheckAtaDownload(const char* fileName, std::uint64_t fileSize, std::uint32_t transferLength,
                      CvError& error);

// The whole ATA update of drive k through one path: download (with its
// attempts) when an image is given, activation when asked, then the identity
// refresh into `identity`. Returns 1, or 0 with `error` set.
int AtaUpdate(const UpdateRequest& request, DriveIdentity& identity, CvError& error);

}  // namespace firmstep
