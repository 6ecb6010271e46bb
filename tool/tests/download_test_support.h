// A fixture for the per-drive step: a fake framework with drives behind access
// paths, a run state with those drives discovered, captured output and the
// step's counters.
#pragma once

#include "download_fake.h"
#include "drive_step.h"
#include "fake_drives.h"
#include "run_state.h"
#include "test_support.h"
#include "tool_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace firmstep::test {

class DriveStepFixture : public ::testing::Test {
protected:
    // Writes a firmware file of `size` bytes with a recognisable pattern.
    std::string WriteImage(const std::string& name, std::size_t size);
    // The bytes of the file written last with WriteImage.
    const std::vector<std::uint8_t>& ImageBytes() const { return image_; }

    // Puts drives into the run's table, each behind the given paths.
    void Discover(const std::vector<TableRow>& rows) { FillDriveTable(state_->drives, rows); }
    // Runs the per-drive step for row `index`.
    void Step(std::uint32_t index);
    std::string Output() { return output_.Text(); }

    TempDir dir_;
    DownloadFake fake_;
    OutputCapture output_;
    std::unique_ptr<RunState> state_ = std::make_unique<RunState>();
    ToolOptions options_;
    CvError error_{};
    int successes_ = 0;
    int failures_ = 0;
    int exitStatus_ = -1;

private:
    std::vector<std::uint8_t> image_;
};

// The segment an ATA download command carries: blocks and block offset, as the
// registers give them.
struct AtaSegment {
    std::uint32_t blocks;
    std::uint32_t offset;
    bool operator==(const AtaSegment&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const AtaSegment& segment)
{
    return out << segment.blocks << " blocks at " << segment.offset;
}
AtaSegment SegmentOf(const SentCommand& sent);

}  // namespace firmstep::test
