// Receive buffers for firmware images sent in pieces.
#include "simdrive/download_buffer.h"

namespace simdrive {

SegmentedDownload::Outcome SegmentedDownload::append(std::size_t offset, std::span<const uint8_t> data,
                                                     uint8_t mode) {
    if (offset == 0) {
        discard();
        active_ = true;
        mode_ = mode;
    } else if (!active_ || offset != bytes_.size()) {
        discard();
        return Outcome::OutOfOrder;
    } else if (mode != mode_) {
        discard();
        return Outcome::ModeChanged;
    }
    if (offset + data.size() > kMaxImageBytes) {
        discard();
        return Outcome::TooLarge;
    }
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    ++segments_;
    if (!expected_ && bytes_.size() >= kImageHeaderSize) {
        ImageHeader header;
        if (parseImageHeader(bytes_, header) != ImageProblem::None) {
            discard();
            return Outcome::BadHeader;
        }
        expected_ = header.imageLength();
    }
    return Outcome::Accepted;
}

void SegmentedDownload::discard() {
    active_ = false;
    mode_ = 0;
    segments_ = 0;
    bytes_.clear();
    bytes_.shrink_to_fit();
    expected_.reset();
}

bool SegmentedDownload::complete() const {
    return active_ && expected_ && bytes_.size() >= *expected_;
}

bool PortionDownload::add(std::size_t offset, std::span<const uint8_t> data) {
    if (offset > kMaxImageBytes || data.size() > kMaxImageBytes - offset) return false;
    if (offset == 0) portions_.clear();
    portions_.emplace(offset, std::vector<uint8_t>(data.begin(), data.end()));
    return true;
}

PortionDownload::Assembly PortionDownload::assemble(std::vector<uint8_t>& image) const {
    image.clear();
    if (portions_.empty()) return Assembly::Empty;
    // Sorted by offset: each portion must start exactly where the previous ended.
    std::size_t end = 0;
    for (const auto& [offset, bytes] : portions_) {
        if (offset < end) return Assembly::Overlap;
        if (offset > end) return Assembly::Gap;
        end = offset + bytes.size();
    }
    image.reserve(end);
    for (const auto& entry : portions_) image.insert(image.end(), entry.second.begin(), entry.second.end());
    return Assembly::Complete;
}

}  // namespace simdrive
