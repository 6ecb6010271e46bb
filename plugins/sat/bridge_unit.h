// What the "ata/device" units of the USB bridge plug-ins share: the
// capabilities word, the time-out setting, the ability list and the checks
// of the contract, with the translating functions (7 read taskfile, 8 soft
// reset) served by the plug-in that offers them.
#pragma once

#include <vector>

#include "device/ata_device.h"
#include "device/contract_check.h"
#include "kernel_io/disk_plugin.h"

namespace usb_bridge {

class BridgeUnit : public passthrough::DiskUnit {
public:
    BridgeUnit(passthrough::DiskPlugin& plugin, CvUID resource, std::string path,
               std::shared_ptr<passthrough::OpenDisk> disk, uint32_t capabilities, std::vector<AtaAbility> abilities);

    int execute(CvCommand* command, CvError* error) final;

protected:
    virtual int doCommand(AtaCommandBlock& block, uint8_t* data, uint32_t length, CvError* error) = 0;
    // The device's taskfile into the output registers of a 37-byte block.
    virtual int readTaskfile(AtaTaskfileBlock& block, CvError* error) = 0;
    virtual int softReset(CvError* error);

    // The open disk, or "Device is unavailable" (code 2) while it is away.
    std::shared_ptr<passthrough::OpenDisk> diskOrFail(CvError* error) const;

private:

    DeviceContractRules rules_;
    uint32_t capabilities_;
    std::vector<AtaAbility> abilities_;
};

// An ability record: protocol, largest transfer, largest LBA and the register masks.
AtaAbility makeAbility(uint8_t protocol, uint32_t maxTransfer, uint64_t maxLba, uint16_t writable,
                       uint16_t returned);

// The output registers of a taskfile block copied into a command block.
void copyOutputRegisters(const AtaTaskfileBlock& from, AtaCommandBlock& to);

// Result bit 1, and the DRQ condition, once the output registers are in.
void markRegistersValid(AtaCommandBlock& block);

}  // namespace usb_bridge
