// Feeds arbitrary bytes to the ATACB taskfile reply decoder, and builds
// command blocks from arbitrary command blocks: no read past the reply, and
// only registers named in the mask in the block that is sent.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "atacb_cdb.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AtaTaskfileBlock registers{};
    const bool decoded = atacb::decodeTaskfileReply({data, size}, registers);
    Check(decoded == (size >= 8));
    if (size >= sizeof(AtaCommandBlock) + 4) {
        AtaCommandBlock block;
        std::memcpy(&block, data, sizeof block);
        uint32_t length;
        std::memcpy(&length, data + sizeof block, sizeof length);
        if (const auto route = atacb::routeOf(block.protocol)) {
            const atacb::Cdb cdb = atacb::commandCdb(block, block.inputMask & ~atacb::kPreviousRegisters, *route, length);
            Check(cdb[0] == 0x24 && cdb[1] == 0x24);
            Check((cdb[3] & 0x80) != 0 || cdb[12] == 0);
            const atacb::Cdb previous = atacb::previousRegistersCdb(block);
            Check((previous[3] & 0xC2) == 0 && previous[11] == 0 && previous[12] == 0);
        }
    }
    return 0;
}
