// A simulated drive: identity from its description, firmware state, faults,
// optional persistence, and one mutex that serialises every command. The bus
// entry points live in the three kinds (ata_drive.h, scsi_drive.h, nvme_drive.h).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simdrive/bus.h"
#include "simdrive/drive_description.h"
#include "simdrive/fault_plan.h"
#include "simdrive/firmware_image.h"
#include "simdrive/state_store.h"

namespace simdrive {

// What the drive runs and what it will run after an activation event.
struct FirmwareState {
    std::string revision;                 // running firmware
    std::string deferredRevision;         // ata, scsi: saved image waiting for activation
    std::vector<std::string> slots;       // nvme: revision per slot, index 0 = slot 1, "" = empty
    int activeSlot = 1;                   // nvme
    int nextSlot = 0;                     // nvme: slot activated by the next reset, 0 = none

    bool operator==(const FirmwareState&) const = default;
};

class SimDrive;

// Creates a drive of the description's kind, loading its persisted state from
// store when given. Null with a message when the state cannot be used.
std::unique_ptr<SimDrive> createDrive(const DriveDescription& description,
                                      std::shared_ptr<const StateStore> store, std::string& error);

// Only createDrive can make one, so every drive is powered on with its state loaded.
class DriveConstruction {
    DriveConstruction() = default;
    friend std::unique_ptr<SimDrive> createDrive(const DriveDescription& description,
                                                 std::shared_ptr<const StateStore> store, std::string& error);
};

struct DriveIdentity {
    DriveKind kind = DriveKind::Ata;
    std::string model;  // as hosts compose it
    std::string serial;
    std::string revision;
};

class SimDrive {
public:
    virtual ~SimDrive() = default;
    SimDrive(const SimDrive&) = delete;
    SimDrive& operator=(const SimDrive&) = delete;

    DriveKind kind() const { return description_.kind; }
    const DriveDescription& description() const { return description_; }
    DriveIdentity identity() const;
    FirmwareState firmware() const;

    // Replaces the fault plan and restarts its counts.
    void setFaults(const FaultPlan& plan);
    void setGone(bool gone);
    void setSleeper(Sleeper sleeper);

    // Power off and on: a deferred or pending activation takes effect and any
    // partial download is lost.
    void powerCycle();

    // The key of this drive's state file: kind and serial.
    std::string stateKey() const;

protected:
    SimDrive(DriveDescription description, std::shared_ptr<const StateStore> store);

    friend std::unique_ptr<SimDrive> createDrive(const DriveDescription& description,
                                                 std::shared_ptr<const StateStore> store, std::string& error);

    // Loads persisted firmware (when a store is set) and powers the drive on.
    // False with a message when the state file exists but cannot be used.
    bool powerOn(std::string& error);

    // Called under the lock at the start of every command: false when the drive
    // is gone; otherwise waits out the injected delay.
    bool admitCommand();

    // Faults consulted by the download paths, under the lock.
    bool injectDownloadFault(bool startsDownload, uint32_t segmentNumber);
    bool injectActivationFault();
    bool refuseDma() const { return faults_.refuseDma; }
    bool unitAttentionToSender() const { return faults_.unitAttentionToSender; }

    // Makes next the drive's firmware, persisting it first; false (and nothing
    // changed) when it cannot be saved, which the drive reports as an internal fault.
    bool commitFirmware(const FirmwareState& next);

    // A received image checked against this drive's model and revision field.
    ImageVerdict checkImage(std::span<const uint8_t> image) const;
    // ata, scsi: runs a verified revision now, or saves it for the next
    // activation when deferred; false as for commitFirmware.
    bool installRevision(const std::string& revision, bool deferred);

    // A reset under the lock: partial downloads are lost and a deferred or
    // pending activation takes effect. Should the state not be saved, the
    // activation stays pending for the next reset.
    void resetFirmware();

    // The kind-specific part of a reset.
    virtual void discardDownloads() = 0;
    static FirmwareState applyPendingActivation(FirmwareState state);

    mutable std::mutex mutex_;
    const DriveDescription description_;
    FirmwareState firmware_;

private:
    FaultPlan faults_;
    uint32_t downloadsStarted_ = 0;
    uint32_t activationsTried_ = 0;
    bool segmentFaultSpent_ = false;
    Sleeper sleeper_;
    std::shared_ptr<const StateStore> store_;
};

}  // namespace simdrive
