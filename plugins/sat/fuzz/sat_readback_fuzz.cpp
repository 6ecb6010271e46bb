// Feeds arbitrary bytes to the taskfile-read decoder of cvpl-sat in both
// fixed-format layouts and to the INQUIRY version check: no read past the
// bytes given, and registers only from a reply that holds them.
#include <corvane.h>

#include <cstdint>
#include <cstdlib>

#include "sat_codec/sat_version.h"
#include "sat_sense_parse.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    for (sat::Version version : {sat::Version::Sat2, sat::Version::Sat3, sat::Version::Sat4}) {
        AtaTaskfileBlock registers{};
        CvError error{};
        const int parsed = sat_plugin::parseSense(bytes, sat::fixedLayoutOf(version), registers, &error);
        if (parsed) {
            Check(size >= 12);
            Check(error.code == CV_ERROR_NONE);
        } else {
            Check(error.code == CV_ERROR_FAILED || error.code == CV_ERROR_NOT_SUPPORTED);
        }
    }
    const sat::Version claimed = sat::versionFromInquiry(bytes);
    if (size < 60) Check(claimed == sat::Version::Sat2);
    (void)sat::parseVersion(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
