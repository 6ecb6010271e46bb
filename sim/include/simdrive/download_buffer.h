// Receive buffers for firmware images sent in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "simdrive/firmware_image.h"

namespace simdrive {

// ATA and SCSI downloads: segments must start at offset 0 and follow each other
// without gaps; a segment at offset 0 starts a new image. The header is read as
// soon as it has arrived, which tells where the image ends.
class SegmentedDownload {
public:
    enum class Outcome { Accepted, OutOfOrder, ModeChanged, TooLarge, BadHeader };

    // mode: the subcommand or WRITE BUFFER mode; a continuation must use the mode
    // that started the image. Every outcome but Accepted discards the image.
    Outcome append(std::size_t offset, std::span<const uint8_t> data, uint8_t mode);
    void discard();

    // Segments accepted since offset 0.
    uint32_t segments() const { return segments_; }
    // True once the header has arrived and every byte it announces with it.
    bool complete() const;
    std::span<const uint8_t> bytes() const { return bytes_; }

private:
    bool active_ = false;
    uint8_t mode_ = 0;
    uint32_t segments_ = 0;
    std::vector<uint8_t> bytes_;
    std::optional<std::size_t> expected_;
};

// NVMe downloads: portions may arrive in any order; a portion at offset 0
// starts a new image. Overlaps and gaps show only when the image is assembled.
class PortionDownload {
public:
    // False (nothing stored) when the portion reaches beyond kMaxImageBytes.
    bool add(std::size_t offset, std::span<const uint8_t> data);
    void discard() { portions_.clear(); }
    uint32_t portions() const { return static_cast<uint32_t>(portions_.size()); }

    enum class Assembly { Complete, Empty, Overlap, Gap };
    Assembly assemble(std::vector<uint8_t>& image) const;

private:
    std::multimap<std::size_t, std::vector<uint8_t>> portions_;
};

}  // namespace simdrive
