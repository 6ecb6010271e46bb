// The kernel check that replaces the operating-system version gate.
#include <gtest/gtest.h>

#include "os_gate.h"

namespace {

TEST(AtaOsGate, AcceptsLinuxFrom2618) {
    using ata_plugin::kernelSupportsPassThrough;
    EXPECT_TRUE(kernelSupportsPassThrough("Linux", "6.1.0-18-amd64"));
    EXPECT_TRUE(kernelSupportsPassThrough("Linux", "3.10.0"));
    EXPECT_TRUE(kernelSupportsPassThrough("Linux", "2.6.18"));
    EXPECT_FALSE(kernelSupportsPassThrough("Linux", "2.6.17"));
    EXPECT_FALSE(kernelSupportsPassThrough("Linux", "2.4.37"));
    EXPECT_FALSE(kernelSupportsPassThrough("Linux", "2.6"));
    EXPECT_FALSE(kernelSupportsPassThrough("Linux", "garbage"));
    EXPECT_FALSE(kernelSupportsPassThrough("FreeBSD", "14.0-RELEASE"));
    EXPECT_FALSE(kernelSupportsPassThrough(nullptr, "6.1"));
}

TEST(AtaOsGate, ThisMachinePasses) {
    CvError error{};
    EXPECT_EQ(1, ata_plugin::checkOperatingSystem(&error)) << error.message;
}

}  // namespace
