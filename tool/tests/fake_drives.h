// A stand-in for the framework calls that discovery makes: one machine whose
// resources carry services that answer the identify commands of simulated ATA,
// SCSI and NVMe drives, recording every command they receive.
#pragma once

#include "framework_calls.h"
#include "test_support.h"

#include <corvane.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace firmstep::test {

// What a simulated drive reports, in the terms of its own bus.
struct FakeDrive {
    std::string model;            // ATA/NVMe model; SCSI: see vendor/product
    std::string vendor;           // SCSI only
    std::string product;          // SCSI only
    std::string serial;
    std::string revision;
    std::uint16_t wwn[4] = {};    // ATA words 108-111; SCSI page 0x83 bytes 40-43 (words 0, 1)
    std::uint32_t nvmeOui = 0;    // NVMe: IEEE OUI bytes 73-75
    std::uint16_t word83 = 0;
    std::uint32_t capacity28 = 0;
    std::uint64_t capacity48 = 0;
    std::uint16_t maxDownloadBlocks = 0;
    bool failIdentify = false;    // every command fails at the framework level
    std::uint16_t nvmeStatus = 0; // completion status field of every NVMe command
};

// One command a service received.
struct ReceivedCommand {
    CvUID resource = 0;
    CvUID service = 0;
    CvCommand command{};
    std::vector<std::uint8_t> block;  // buffer 0 as sent
};

struct FakeService {
    CvUID uid = 0;
    std::string type;
    std::optional<FakeDrive> drive;  // none: the service answers no command
};

struct FakeResource {
    CvUID uid = 0;
    std::vector<FakeService> services;
};

struct FakeMachine {
    CvUID uid = 7;
    std::vector<FakeResource> resources;
    bool failResourceList = false;
    CvUID failServiceListOf = CV_UID_NONE;
    std::vector<ReceivedCommand> received;
};

// Writes `text` into a fixed-width identify field, padded with spaces; ATA
// fields hold two characters per 16-bit word in swapped order (`swapPairs`).
void PutIdentifyText(std::uint8_t* out, std::size_t width, const std::string& text, bool swapPairs);

// Installs `machine` as the framework for the life of the object.
class FakeFramework {
public:
    explicit FakeFramework(FakeMachine& machine);
    ~FakeFramework();
    FakeFramework(const FakeFramework&) = delete;
    FakeFramework& operator=(const FakeFramework&) = delete;

private:
    ScopedFrameworkCalls scope_;
};

// Collects everything the tool prints through its log-file copy.
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    // The text printed so far.
    std::string Text();

private:
    TempDir dir_;
    bool open_ = false;
};

}  // namespace firmstep::test
