// One "ata/device" service on a disk behind a SCSI/ATA Translation: ATA
// commands in ATA PASS-THROUGH (12) or (16), the output registers read back
// from a USB bridge afterwards in the way the bridge turned out to return them.
#pragma once

#include "bridge_unit.h"
#include "sat_codec/sat_version.h"

namespace sat_plugin {

// How a USB bridge returns the registers of PROTOCOL 15 (return response
// information). Found on the first command and kept.
enum class ReadBackMode : int32_t {
    Unknown = 0,
    DataFallback = 1,   // as data, nothing better found
    AutoSense = 2,      // as sense data of a command without data phase
    DataConfirmed = 3,  // as data, seen to carry registers
};

class SatUnit final : public usb_bridge::BridgeUnit {
public:
    SatUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
            std::shared_ptr<passthrough::OpenDisk> disk, bool usb, sat::Version version);

    ReadBackMode readBackMode() const;
    sat::Version version() const { return version_; }

protected:
    int doCommand(AtaCommandBlock& block, uint8_t* data, uint32_t length, CvError* error) override;
    int readTaskfile(AtaTaskfileBlock& block, CvError* error) override;
    int softReset(CvError* error) override;

private:
    // PROTOCOL 15 in a 12- or 16-byte block, read back as `mode` says.
    int readBack(int fd, std::size_t cdbLength, ReadBackMode mode, AtaTaskfileBlock& out, CvError* error) const;
    // After a command on a USB disk; finds the mode on the first one.
    int readBackAfterCommand(int fd, std::size_t cdbLength, AtaTaskfileBlock& out, CvError* error);

    const bool usb_;
    const sat::Version version_;
    ReadBackMode mode_ = ReadBackMode::Unknown;  // guarded by the unit's mutex
};

}  // namespace sat_plugin
