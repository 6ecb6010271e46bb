// The pass-through fixture with ATA drives behind simulated USB bridges,
// published on the USB bus as the OS devices plug-in publishes them.
#pragma once

#include <string>

#include "device/ata_device.h"
#include "passthrough_fixture.h"

namespace usb_bridge_test {

class UsbBridgeTest : public passthrough_test::PassThroughTest {
protected:
    // An ATA drive behind a bridge named as in a node table ("sat", "atacb", ...).
    passthrough_test::FakeDisk& bridged(const std::string& node, const std::string& bridge, const std::string& serial) {
        addDrive<simdrive::AtaDrive>(node, "kind=ata; model=VT-2000 Series; serial=" + serial +
                                               "; revision=VT01; oui=0x02A001; dma=yes");
        kernel().setUsbBridge(node, *simdrive::parseUsbBridge(bridge));
        return publish(node, DRIVE_INFO_BUS_USB);
    }

    Outcome command(const passthrough_test::FakeDisk& disk, AtaCommandBlock& block, void* data = nullptr,
                    uint32_t length = 0) {
        return run(disk.resource(), serviceOf(disk.resource(), ATA_DEVICE_SERVICE_TYPE), DEVICE_FUNCTION_DO_COMMAND,
                   &block, sizeof block, data, length);
    }

    static AtaCommandBlock identifyBlock() {
        AtaCommandBlock block{};
        block.protocol = ATA_PROTOCOL_PIO_IN;
        block.inputMask = ATA_REG_SET_28BIT;
        block.count = 1;
        block.command = 0xEC;
        return block;
    }

    // DOWNLOAD MICROCODE with a subcommand the drive does not know: refused
    // with ABRT.
    static AtaCommandBlock refusedDownload() {
        AtaCommandBlock block{};
        block.protocol = ATA_PROTOCOL_PIO_OUT;
        block.inputMask = ATA_REG_SET_28BIT;
        block.features = 0x55;
        block.count = 1;
        block.command = 0x92;
        return block;
    }
};

}  // namespace usb_bridge_test
