// One "ata/device" service on a disk behind an ATACB bridge: each ATA command
// in one ATACB block (two for 48-bit "previous" registers), the output
// registers read back with a taskfile read after every command.
#pragma once

#include "bridge_unit.h"

namespace atacb_plugin {

class AtacbUnit final : public usb_bridge::BridgeUnit {
public:
    AtacbUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
              std::shared_ptr<passthrough::OpenDisk> disk);

protected:
    int doCommand(AtaCommandBlock& block, uint8_t* data, uint32_t length, CvError* error) override;
    int readTaskfile(AtaTaskfileBlock& block, CvError* error) override;

private:
    int writePreviousRegisters(int fd, const AtaCommandBlock& block, uint64_t timeoutNs, CvError* error);
    static int readRegisters(int fd, AtaTaskfileBlock& out, CvError* error);
};

}  // namespace atacb_plugin
