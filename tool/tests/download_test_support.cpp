#include "download_test_support.h"

#include <device_contracts.h>

namespace firmstep::test {

std::string DriveStepFixture::WriteImage(const std::string& name, std::size_t size)
{
    image_.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        image_[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    const std::filesystem::path path = dir_.path() / name;
    WriteFile(path, std::string(image_.begin(), image_.end()));
    return path.string();
}

void DriveStepFixture::Step(std::uint32_t index)
{
    RunDriveStep(options_, index, *state_, error_, successes_, failures_, exitStatus_);
}

AtaSegment SegmentOf(const SentCommand& sent)
{
    const auto block = sent.As<AtaCommandBlock>();
    return {static_cast<std::uint32_t>(block.count | block.lbaLow << 8),
            static_cast<std::uint32_t>(block.lbaMid | block.lbaHigh << 8)};
}

}  // namespace firmstep::test
