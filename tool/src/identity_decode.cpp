#include "identity_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace firmstep {
namespace {

std::uint16_t LittleEndian16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint16_t BigEndian16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t LittleEndian32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t LittleEndian64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(LittleEndian32(p)) | (static_cast<std::uint64_t>(LittleEndian32(p + 4)) << 32);
}

// IDENTIFY DEVICE word `index`.
std::uint16_t Word(const std::uint8_t (&data)[kAtaIdentifySize], std::size_t index)
{
    return LittleEndian16(data + 2 * index);
}

// Words first..first+count-1 as one number, lowest word first.
std::uint64_t Words(const std::uint8_t (&data)[kAtaIdentifySize], std::size_t first, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;)
        value = (value << 16) | Word(data, first + i);
    return value;
}

}  // namespace

void CopyTrimmedText(char* out, std::size_t outSize, const std::uint8_t* field, std::size_t length,
                     bool swapPairs)
{
    if (outSize == 0)
        return;
    char text[256] = {};
    length = std::min({length, outSize - 1, sizeof text - 1});
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t from = swapPairs ? (i ^ 1u) : i;
        text[i] = static_cast<char>(from < length ? field[from] : field[i]);
    }
    // A NUL inside the field ends the text there.
    std::size_t end = std::strlen(text);
    while (end > 0 && text[end - 1] == ' ')
        --end;
    std::size_t start = 0;
    while (start < end && text[start] == ' ')
        ++start;
    std::memcpy(out, text + start, end - start);
    out[end - start] = '\0';
}

std::uint64_t AtaCapacityGB(std::uint64_t capacity28, std::uint64_t capacity48, std::uint16_t word83)
{
    const std::uint64_t sectors = (word83 & 0x0400u) != 0 ? capacity48 : capacity28;
    // 512-byte sectors to decimal gigabytes, rounded at the first step as the
    // drive makers round their labels.
    return (sectors + 125) / 250 * 128 / 1000000;
}

DriveIdentity DecodeAtaIdentify(const std::uint8_t (&data)[kAtaIdentifySize])
{
    DriveIdentity id{};
    CopyTrimmedText(id.serialNumber, sizeof id.serialNumber, data + 2 * 10, 20, true);
    CopyTrimmedText(id.firmwareRevision, sizeof id.firmwareRevision, data + 2 * 23, 8, true);
    CopyTrimmedText(id.model, kModelLength + 1, data + 2 * 27, 40, true);
    id.capacity28 = Words(data, 60, 2);
    id.capacity48 = Words(data, 100, 4);
    id.commandSetWord = Word(data, 83);
    id.capacityGB = AtaCapacityGB(id.capacity28, id.capacity48, id.commandSetWord);
    for (std::size_t i = 0; i < 4; ++i)
        id.wwn[i] = Word(data, 108 + i);
    id.minDownloadBlocks = Word(data, 234);
    id.maxDownloadBlocks = Word(data, 235);
    return id;
}

DriveIdentity DecodeScsiInquiry(const std::uint8_t (&standard)[kScsiStandardInquirySize],
                                const std::uint8_t (&serialPage)[kScsiSerialPageSize],
                                const std::uint8_t (&deviceIdPage)[kScsiDeviceIdPageSize])
{
    DriveIdentity id{};
    CopyTrimmedText(id.serialNumber, sizeof id.serialNumber, serialPage + 4, 20, false);
    CopyTrimmedText(id.firmwareRevision, sizeof id.firmwareRevision, standard + 32, 4, false);
    char vendor[9];
    char product[17];
    CopyTrimmedText(vendor, sizeof vendor, standard + 8, 8, false);
    CopyTrimmedText(product, sizeof product, standard + 16, 16, false);
    std::snprintf(id.model, kModelLength + 1, "%s %s", vendor, product);
    id.wwn[0] = BigEndian16(deviceIdPage + 40);
    id.wwn[1] = BigEndian16(deviceIdPage + 42);
    id.minDownloadBlocks = 1;
    id.maxDownloadBlocks = 32;
    return id;
}

DriveIdentity DecodeNvmeIdentify(const std::uint8_t (&controller)[kNvmeIdentifySize],
                                 const std::uint8_t (&namespaceData)[kNvmeIdentifySize])
{
    DriveIdentity id{};
    CopyTrimmedText(id.serialNumber, sizeof id.serialNumber, controller + 4, 20, false);
    CopyTrimmedText(id.model, kModelLength + 1, controller + 24, 40, false);
    CopyTrimmedText(id.firmwareRevision, sizeof id.firmwareRevision, controller + 64, 8, false);
    // The IEEE OUI (bytes 73-75, least significant first) becomes a WWN in the
    // layout ATA drives report, so that one VT test serves every drive type.
    const std::uint32_t oui = static_cast<std::uint32_t>(controller[73]) |
                              (static_cast<std::uint32_t>(controller[74]) << 8) |
                              (static_cast<std::uint32_t>(controller[75]) << 16);
    id.wwn[0] = static_cast<std::uint16_t>(0x5000u | (oui >> 12));
    id.wwn[1] = static_cast<std::uint16_t>((oui << 4) & 0xFFFFu);
    // Firmware update fields count only when the drive offers optional admin commands.
    if (LittleEndian16(controller + 256) != 0) {
        id.firmwareUpdate = controller[260];
        id.firmwareUpdateGranularity = controller[319];
    }
    id.namespaceCount = LittleEndian32(controller + 516);
    id.capacity28 = LittleEndian64(namespaceData);
    id.minDownloadBlocks = 1;
    id.maxDownloadBlocks = 8;
    return id;
}

}  // namespace firmstep
