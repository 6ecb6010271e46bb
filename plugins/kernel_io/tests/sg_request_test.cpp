// The SG_IO time-out conversion, what counts as the device's answer, and the
// timed request over the simulated kernel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstdint>

#include "kernel_io/kernel_io.h"
#include "kernel_io/sg_request.h"
#include "passthrough_fixture.h"
#include "simdrive/scsi_drive.h"

namespace {

TEST(SgTimeout, WholeSecondsCutToTheHeaderField) {
    using passthrough::sgTimeoutMs;
    EXPECT_EQ(0u, sgTimeoutMs(999999999ull));
    EXPECT_EQ(5000u, sgTimeoutMs(5500000000ull));
    EXPECT_EQ(60000u, sgTimeoutMs(60000000000ull));
    // The largest whole number of seconds that still fits in milliseconds.
    EXPECT_EQ(4294967000u, sgTimeoutMs(UINT64_MAX));
}

// Completed headers as kernels return them, and whether the device answered.
TEST(SgTransportFailure, OnlyAStatusOrSenseOfTheDeviceIsAnAnswer) {
    struct Case {
        const char* what;
        uint8_t status;
        uint16_t host, driver;
        uint8_t senseLength;
        uint32_t info;
        int expected;
    };
    const Case cases[] = {
        {"good", 0x00, 0x00, 0x00, 0, 0, 0},
        {"check condition with sense", 0x02, 0x00, 0x08, 18, SG_INFO_CHECK, 0},
        {"sense with a suggestion", 0x02, 0x00, 0x08 | 0x10, 18, SG_INFO_CHECK, 0},
        {"busy without sense", 0x08, 0x00, 0x00, 0, SG_INFO_CHECK, 0},
        {"time-out, kernels before 5.14", 0x00, 0x00, 0x06, 0, SG_INFO_CHECK, ETIMEDOUT},
        {"time-out with a suggestion", 0x00, 0x00, 0x06 | 0x20, 0, SG_INFO_CHECK, ETIMEDOUT},
        {"time-out, later kernels", 0x00, 0x03, 0x00, 0, SG_INFO_CHECK, ETIMEDOUT},
        {"no connection", 0x00, 0x01, 0x00, 0, SG_INFO_CHECK, EIO},
        {"reset despite a status", 0x02, 0x08, 0x08, 18, SG_INFO_CHECK, EIO},
        {"driver error", 0x00, 0x00, 0x04, 0, SG_INFO_CHECK, EIO},
        {"a problem nothing explains", 0x00, 0x00, 0x00, 0, SG_INFO_CHECK, EIO},
    };
    for (const Case& c : cases) {
        sg_io_hdr header{};
        header.status = c.status;
        header.masked_status = static_cast<unsigned char>(c.status >> 1);
        header.host_status = c.host;
        header.driver_status = c.driver;
        header.sb_len_wr = c.senseLength;
        header.info = c.info;
        EXPECT_EQ(c.expected, passthrough::sgTransportFailure(header)) << c.what;
    }
}

class TimedSgIoTest : public passthrough_test::PassThroughTest {};

TEST_F(TimedSgIoTest, ReportsTheKernelsRefusalOrZero) {
    addDrive<simdrive::ScsiDrive>("/dev/sdb", "kind=scsi; vendor=VT; product=SAS-900; serial=SGIO01; revision=V001");
    uint8_t cdb[6] = {0, 0, 0, 0, 0, 0};  // TEST UNIT READY
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = sizeof cdb;
    header.cmdp = cdb;
    header.dxfer_direction = SG_DXFER_NONE;
    uint64_t duration = UINT64_MAX;
    EXPECT_EQ(EBADF, passthrough::timedSgIo(12345, header, duration));
    EXPECT_NE(UINT64_MAX, duration);

    const int fd = KernelIo_Open("/dev/sdb", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, passthrough::timedSgIo(fd, header, duration));
    EXPECT_EQ(0, header.status);
    header.interface_id = 'Q';  // not an SG_IO v3 header
    EXPECT_EQ(ENOSYS, passthrough::timedSgIo(fd, header, duration));
    EXPECT_EQ(0, KernelIo_Close(fd));
}

}  // namespace
