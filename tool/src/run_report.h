// What a run did, kept for the report file ("-report"): the drives found, and
// for each drive acted on the steps it went through with their outcome. The
// steps fill it as they go; report_json.h turns it into the document. Nothing
// is kept unless a report was asked for, and keeping it never changes what
// the run prints or does.
#pragma once

#include "drive_table.h"

#include <corvane.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace firmstep {

// What a deferred ATA or SCSI download leaves pending.
inline constexpr const char* kPendingActivationText = "an activation or a power cycle";

// One series of attempts of one operation on one access path of a drive, or
// the identity read that follows an update.
enum class StepKind { Download, Activation, Commit, Reset, Identify };

struct StepRecord {
    StepKind kind = StepKind::Download;
    std::uint32_t path = 0;      // index into the drive's access paths
    std::uint32_t attempts = 0;  // tries made, retries included
    bool succeeded = false;
    int errorCode = 0;           // the error record's code after a failure, 0 otherwise
    std::string message;         // its message after a failure, empty otherwise
};

enum class UpdateResult {
    Succeeded,  // counted as a success
    Failed,     // counted as a failure
    Skipped,    // model mode: the listed firmware file cannot be opened; not counted
};

struct UpdateRecord {
    std::string firmwareFile;          // empty: no image (activation, commit or reset only)
    std::uint32_t transferLength = 0;  // bytes per command, as used on the last path tried
    std::string revisionBefore;
    // The revision the drive reported when it was identified again after the
    // update; none when it was not (an update that failed before that point,
    // or an identity read that failed).
    std::optional<std::string> revisionAfter;
    UpdateResult result = UpdateResult::Failed;
    int errorCode = 0;     // for Failed and Skipped: the reason the FAILURE lines print
    std::string message;
    // What the drive still needs before it runs the new firmware ("a
    // conventional reset", ...); empty when nothing is pending.
    std::string resetNeeded;
    std::vector<StepRecord> steps;
};

struct PathRecord {
    CvUID resource = CV_UID_NONE;
    CvUID service = CV_UID_NONE;
    std::string resourceName;  // the resource's name on the machine; empty when it cannot be read
    std::string serviceType;   // "ata/device", "scsi/device", "nvme/device"
};

struct DriveRecord {
    std::uint32_t number = 0;  // the list number
    std::string model;
    std::string serialNumber;
    std::string firmwareRevision;  // as discovered
    std::string type;              // "ATA", "SCSI", "NVMe"
    std::string wwn;               // hexadecimal, the words the drive type fills
    std::vector<PathRecord> paths;
    bool selected = false;
    std::optional<UpdateRecord> update;  // for drives the per-drive step acted on
};

// How the run ended.
enum class RunOutcome {
    Completed,              // the drives were processed and the summary printed
    Listed,                 // "-list"
    NothingSelected,        // the prompt selected nothing
    NoDrives,               // discovery found no VT drive (or could not walk the machine)
    ModelFileUnusable,      // status 3
    ConfigurationFailed,    // status 4
    NoMachine,              // status 5
    TransferLengthRefused,  // status 2
    Abandoned,              // an unexpected fault ended the run early
};

struct MachineRecord {
    CvUID uid = CV_UID_NONE;
    std::string url;
};

struct RunReport {
    std::vector<std::string> commandLine;  // the program's arguments, program name first
    std::string started;                   // UTC, ISO 8601
    std::optional<MachineRecord> machine;  // the machine whose drives were discovered
    RunOutcome outcome = RunOutcome::Completed;
    std::string message;                   // why the run ended early; empty otherwise
    std::vector<DriveRecord> drives;       // filled once discovery succeeded
};

// The current time as UTC, ISO 8601 to the second ("2026-01-31T12:00:00Z").
std::string UtcTimestamp();

// The WWN as the drive type fills it: four words for ATA, the first two for
// SCSI and NVMe; 4 hexadecimal digits a word, upper case.
std::string FormatWwn(const DriveIdentity& identity, std::uint32_t typeMark);

// The machine's record, with its URL read from the framework.
MachineRecord DescribeMachine(CvUID machine);

// The records of the discovered drives, with the names of their resources and
// service types read from the framework.
std::vector<DriveRecord> DescribeDrives(const DriveTable& table);

// Keeps the outcome of attempt series for the report; does nothing without a
// record.
struct StepLog {
    UpdateRecord* record = nullptr;
    std::uint32_t path = 0;
    const CvError* error = nullptr;  // where a failed series leaves its reason

    void Add(StepKind kind, std::uint32_t attempts, bool succeeded) const;
    // The reason of a failed step kept apart from the run's error record (the
    // identity read after an NVMe update has its own).
    void Add(StepKind kind, std::uint32_t attempts, bool succeeded, const CvError& reason) const;
    void NeedsReset(const char* what) const;
};

}  // namespace firmstep
