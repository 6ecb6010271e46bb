// A stand-in for the framework that plays drives receiving firmware: each
// access path answers the ability queries of its library, the identify
// commands, and the download, activation, commit and reset commands, and every
// command is recorded as the drive received it.
#pragma once

#include "drive_table.h"
#include "framework_calls.h"

#include <corvane.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace firmstep::test {

enum class BusKind { Ata, Scsi, Nvme };

// One drive as its services see it. Failure counters count down one per
// refused command, so "refuse the next two" makes two attempts fail.
struct DownloadDrive {
    BusKind kind = BusKind::Ata;
    std::string model = "VT1000";
    std::string serial = "SN0001";
    std::string revision = "OLD1";
    std::string revisionAfterUpdate = "NEW2";  // reported once firmware was taken
    std::uint16_t maxDownloadBlocks = 0;       // ATA identify word 235
    std::uint8_t nvmeFirmwareUpdate = 0x06;    // three slots
    std::uint32_t libraryLimit = 0x20000;      // largest data transfer of the library's abilities
    bool abilityCountFails = false;

    int refuseDownloads = 0;          // segments the drive refuses from now on
    bool refuseAllDownloads = false;
    int refuseActivations = 0;
    bool refuseAllActivations = false;
    bool failCalls = false;           // download and activation calls fail in the library
    bool failIdentify = false;        // identity refresh fails
    bool failReset = false;
    int unitAttentions = 0;           // SCSI commands answered with UNIT ATTENTION, not performed
    std::uint8_t ataError = 0x04;     // error register of a refusal
    std::uint16_t scsiStatus = 0x02;  // status of a refusal (check condition)
    std::uint16_t nvmeStatusField = 0x4106;  // completion status field of a refusal
};

// One command as it reached a service.
struct SentCommand {
    CvUID resource = 0;
    CvUID service = 0;
    std::uint8_t function = 0;
    std::uint32_t tag = 0;
    std::vector<std::uint8_t> block;  // buffer 0 as sent
    const std::uint8_t* data = nullptr;  // buffer 1 as passed
    std::uint32_t dataLength = 0;
    std::vector<std::uint8_t> dataSent;  // buffer 1's content for data-out commands

    template <typename Block>
    Block As() const;
};

// The drives behind access paths, keyed by (resource, service).
class DownloadFake {
public:
    DownloadFake();
    ~DownloadFake();
    DownloadFake(const DownloadFake&) = delete;
    DownloadFake& operator=(const DownloadFake&) = delete;

    // The drive answering at `path`; several paths may share one drive.
    void Attach(AccessPath path, DownloadDrive& drive);
    // Every command so far, in order.
    const std::vector<SentCommand>& Sent() const { return sent_; }
    // Only the commands that carry firmware or act on it: ATA 0x92/0x93, SCSI
    // WRITE BUFFER, NVMe firmware download and commit, and resets.
    std::vector<SentCommand> FirmwareCommands() const;
    // The pauses the tool asked for, in milliseconds.
    const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

    // Called by the fake's framework functions.
    int Execute(CvUID resource, CvUID service, CvCommand& command, CvError& error);
    void Sleep(std::uint32_t milliseconds) { sleeps_.push_back(milliseconds); }

private:
    std::map<std::pair<CvUID, CvUID>, DownloadDrive*> drives_;
    std::vector<SentCommand> sent_;
    std::vector<std::uint32_t> sleeps_;
    ScopedFrameworkCalls scope_;
};

template <typename Block>
Block SentCommand::As() const
{
    Block out{};
    if (block.size() == sizeof out)
        std::memcpy(&out, block.data(), sizeof out);
    return out;
}

// A drive table of one machine with the given rows already discovered.
struct TableRow {
    BusKind kind = BusKind::Ata;
    std::vector<AccessPath> paths;
    const DownloadDrive* drive = nullptr;  // identity as discovery would have read it
};
void FillDriveTable(DriveTable& table, const std::vector<TableRow>& rows);

inline constexpr CvUID kFakeMachine = 3;

}  // namespace firmstep::test
