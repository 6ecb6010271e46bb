// What every simulated drive shares: identity, faults, the command gate, and
// firmware state that survives power cycles and, with a store, runs.
#include "simdrive/drive.h"

#include <thread>

#include "simdrive/text_fields.h"

namespace simdrive {

namespace {

constexpr const char* kKeyKind = "kind";
constexpr const char* kKeyModel = "model";
constexpr const char* kKeySerial = "serial";
constexpr const char* kKeyRevision = "revision";
constexpr const char* kKeyDeferred = "deferred_revision";
constexpr const char* kKeyActiveSlot = "active_slot";
constexpr const char* kKeyNextSlot = "next_slot";

std::string slotKey(std::size_t index) {
    return "slot" + std::to_string(index + 1);
}

bool validRevision(const std::string& text, std::size_t capacity) {
    if (text.empty() || text.size() > capacity) return false;
    for (char c : text) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

}  // namespace

const char* driveKindName(DriveKind kind) {
    switch (kind) {
    case DriveKind::Ata: return "ata";
    case DriveKind::Scsi: return "scsi";
    case DriveKind::Nvme: return "nvme";
    }
    return "unknown";
}

SimDrive::SimDrive(DriveDescription description, std::shared_ptr<const StateStore> store)
    : description_(std::move(description)),
      faults_(description_.faults),
      sleeper_([](std::chrono::milliseconds delay) { std::this_thread::sleep_for(delay); }),
      store_(std::move(store)) {
    firmware_.revision = description_.revision;
    if (description_.kind == DriveKind::Nvme) {
        firmware_.slots.assign(description_.firmwareSlots, std::string());
        firmware_.slots[0] = description_.revision;
    }
}

DriveIdentity SimDrive::identity() const {
    std::lock_guard lock(mutex_);
    return {description_.kind, description_.displayModel(), description_.serial, firmware_.revision};
}

FirmwareState SimDrive::firmware() const {
    std::lock_guard lock(mutex_);
    return firmware_;
}

void SimDrive::setFaults(const FaultPlan& plan) {
    std::lock_guard lock(mutex_);
    faults_ = plan;
    downloadsStarted_ = 0;
    activationsTried_ = 0;
    segmentFaultSpent_ = false;
}

void SimDrive::setGone(bool gone) {
    std::lock_guard lock(mutex_);
    faults_.gone = gone;
}

void SimDrive::setSleeper(Sleeper sleeper) {
    std::lock_guard lock(mutex_);
    sleeper_ = std::move(sleeper);
}

void SimDrive::powerCycle() {
    std::lock_guard lock(mutex_);
    resetFirmware();
}

void SimDrive::resetFirmware() {
    discardDownloads();
    FirmwareState next = applyPendingActivation(firmware_);
    if (next != firmware_) commitFirmware(next);
}

std::string SimDrive::stateKey() const {
    return std::string(driveKindName(description_.kind)) + "-" + description_.serial;
}

FirmwareState SimDrive::applyPendingActivation(FirmwareState state) {
    if (!state.deferredRevision.empty()) {
        state.revision = state.deferredRevision;
        state.deferredRevision.clear();
    }
    if (state.nextSlot != 0) {
        state.activeSlot = state.nextSlot;
        state.nextSlot = 0;
    }
    // An NVMe controller comes up running whatever its active slot holds now.
    if (!state.slots.empty()) state.revision = state.slots[static_cast<std::size_t>(state.activeSlot - 1)];
    return state;
}

bool SimDrive::powerOn(std::string& error) {
    std::lock_guard lock(mutex_);
    if (store_) {
        StateRecord record;
        switch (store_->load(stateKey(), record, error)) {
        case StateStore::LoadResult::Failed: return false;
        case StateStore::LoadResult::Absent: break;
        case StateStore::LoadResult::Loaded:
            // A record written for another model under the same serial is not this drive's.
            if (record[kKeyKind] != driveKindName(description_.kind) ||
                record[kKeyModel] != description_.displayModel() || record[kKeySerial] != description_.serial) {
                break;
            }
            FirmwareState loaded = firmware_;
            std::string bad;
            std::size_t capacity = description_.revisionCapacity();
            loaded.revision = record[kKeyRevision];
            if (!validRevision(loaded.revision, capacity)) bad = kKeyRevision;
            loaded.deferredRevision = record[kKeyDeferred];
            if (!loaded.deferredRevision.empty() && !validRevision(loaded.deferredRevision, capacity)) bad = kKeyDeferred;
            if (description_.kind == DriveKind::Nvme) {
                for (std::size_t i = 0; i < loaded.slots.size(); ++i) {
                    loaded.slots[i] = record[slotKey(i)];
                    if (!loaded.slots[i].empty() && !validRevision(loaded.slots[i], capacity)) bad = slotKey(i);
                }
                uint64_t slots = loaded.slots.size();
                auto active = parseUnsigned(record[kKeyActiveSlot], slots);
                auto next = parseUnsigned(record[kKeyNextSlot], slots);
                if (!active || *active == 0 || loaded.slots[*active - 1].empty()) {
                    bad = kKeyActiveSlot;
                } else if (!next || (*next != 0 && loaded.slots[*next - 1].empty())) {
                    bad = kKeyNextSlot;
                } else {
                    loaded.activeSlot = static_cast<int>(*active);
                    loaded.nextSlot = static_cast<int>(*next);
                    loaded.revision = loaded.slots[*active - 1];
                }
            }
            if (!bad.empty()) {
                error = "state file '" + store_->pathFor(stateKey()).string() + "': bad value for key '" + bad + "'";
                return false;
            }
            firmware_ = loaded;
            break;
        }
    }
    FirmwareState next = applyPendingActivation(firmware_);
    if (next != firmware_ && !commitFirmware(next)) {
        error = "cannot save the state of drive " + description_.serial;
        return false;
    }
    return true;
}

bool SimDrive::admitCommand() {
    if (faults_.gone) return false;
    if (faults_.delayMs != 0) sleeper_(std::chrono::milliseconds(faults_.delayMs));
    return true;
}

bool SimDrive::injectDownloadFault(bool startsDownload, uint32_t segmentNumber) {
    if (startsDownload && ++downloadsStarted_ <= faults_.failDownloadAttempts) return true;
    if (faults_.failSegment != 0 && segmentNumber == faults_.failSegment &&
        (faults_.failSegmentAlways || !segmentFaultSpent_)) {
        segmentFaultSpent_ = true;
        return true;
    }
    return false;
}

bool SimDrive::injectActivationFault() {
    return ++activationsTried_ <= faults_.failActivateAttempts;
}

ImageVerdict SimDrive::checkImage(std::span<const uint8_t> image) const {
    return verifyImage(image, description_.displayModel(), description_.revisionCapacity());
}

bool SimDrive::installRevision(const std::string& revision, bool deferred) {
    FirmwareState next = firmware_;
    if (deferred) {
        next.deferredRevision = revision;
    } else {
        next.revision = revision;
        next.deferredRevision.clear();
    }
    return commitFirmware(next);
}

bool SimDrive::commitFirmware(const FirmwareState& next) {
    if (store_) {
        StateRecord record;
        record[kKeyKind] = driveKindName(description_.kind);
        record[kKeyModel] = description_.displayModel();
        record[kKeySerial] = description_.serial;
        record[kKeyRevision] = next.revision;
        if (!next.deferredRevision.empty()) record[kKeyDeferred] = next.deferredRevision;
        if (description_.kind == DriveKind::Nvme) {
            for (std::size_t i = 0; i < next.slots.size(); ++i) {
                if (!next.slots[i].empty()) record[slotKey(i)] = next.slots[i];
            }
            record[kKeyActiveSlot] = std::to_string(next.activeSlot);
            record[kKeyNextSlot] = std::to_string(next.nextSlot);
        }
        std::string error;
        if (!store_->save(stateKey(), record, error)) return false;
    }
    firmware_ = next;
    return true;
}

}  // namespace simdrive
