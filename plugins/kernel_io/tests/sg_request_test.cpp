// The SG_IO time-out conversion and the timed request, over the simulated kernel.
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
