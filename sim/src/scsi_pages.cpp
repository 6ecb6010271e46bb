// INQUIRY data of a simulated SCSI logical unit.
#include <span>

#include "byte_order.h"
#include "simdrive/scsi_drive.h"
#include "simdrive/text_fields.h"

namespace simdrive {

namespace {

constexpr std::size_t kStandardInquiryLength = 96;
constexpr std::size_t kSerialWidth = 20;

// Drives without a described name still report an NAA-5 designator, with a
// zero OUI and an identifier derived from the serial number.
uint64_t logicalUnitName(const DriveDescription& d) {
    return d.wwn != 0 ? d.wwn : 5ull << 60 | (hashText(d.serial) & 0xFFFFFFFFFull);
}

std::vector<uint8_t> supportedPages() {
    return {0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83};
}

std::vector<uint8_t> unitSerialNumberPage(const DriveDescription& d) {
    std::vector<uint8_t> page(4 + kSerialWidth);
    page[1] = 0x80;
    page[3] = kSerialWidth;
    putBlankPadded(std::span(page).subspan(4), d.serial);
    return page;
}

// A T10 vendor identification designator (vendor and serial, 28 bytes) first,
// so that the NAA designator's value sits at bytes 40 to 47, then the relative
// target port.
std::vector<uint8_t> deviceIdentificationPage(const DriveDescription& d) {
    std::vector<uint8_t> page(56);
    std::span<uint8_t> out(page);
    page[1] = 0x83;
    putBe16(out, 2, static_cast<uint16_t>(page.size() - 4));
    page[4] = 0x02;  // ASCII
    page[5] = 0x01;  // logical unit, T10 vendor identification
    page[7] = 28;
    putBlankPadded(out.subspan(8, 8), d.vendor);
    putBlankPadded(out.subspan(16, kSerialWidth), d.serial);
    page[36] = 0x01;  // binary
    page[37] = 0x03;  // logical unit, NAA
    page[39] = 8;
    putBe64(out, 40, logicalUnitName(d));
    page[48] = 0x61;  // SAS, binary
    page[49] = 0x94;  // protocol identifier valid, target port, relative target port
    page[51] = 4;
    putBe32(out, 52, 1);
    return page;
}

}  // namespace

std::vector<uint8_t> scsiStandardInquiry(const DriveDescription& d, const std::string& revision) {
    std::vector<uint8_t> data(kStandardInquiryLength);
    std::span<uint8_t> out(data);
    data[0] = 0x00;  // direct-access block device, connected
    data[2] = 0x06;  // SPC-4
    data[3] = 0x12;  // hierarchical LUNs, response data format 2
    data[4] = static_cast<uint8_t>(kStandardInquiryLength - 5);
    data[7] = 0x02;  // command queuing
    putBlankPadded(out.subspan(8, 8), d.vendor);
    putBlankPadded(out.subspan(16, 16), d.product);
    putBlankPadded(out.subspan(32, 4), revision);
    putBe16(out, 58, 0x00A0);  // SAM-5
    putBe16(out, 60, 0x0460);  // SPC-4
    putBe16(out, 62, 0x04C0);  // SBC-3
    return data;
}

std::vector<uint8_t> scsiVpdPage(const DriveDescription& d, uint8_t page) {
    switch (page) {
    case 0x00: return supportedPages();
    case 0x80: return unitSerialNumberPage(d);
    case 0x83: return deviceIdentificationPage(d);
    default: return {};
    }
}

}  // namespace simdrive
