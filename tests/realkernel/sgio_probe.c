/* sgio_probe: sends one raw SG_IO or NVMe admin command and prints every field
 * the kernel hands back. A diagnostic for the real-kernel suite: it shows what a
 * kernel and an emulated device answer, so the plug-ins' decoding can be checked
 * against it. It takes no part in the suite's verdicts.
 *
 *   sgio_probe sg   DEV in|out|none LEN CDB-HEX-BYTES...   (out data: 0x5A bytes)
 *   sgio_probe nvme DEV OPCODE CDW10 CDW11 LEN            (admin command, data out when LEN>0)
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int probe_sg(const char *dev, const char *dir, unsigned len, int ncdb, char **cdbtext)
{
    unsigned char cdb[32], sense[64], *buf = calloc(1, len ? len : 1);
    sg_io_hdr_t io;
    int fd = open(dev, O_RDWR | O_NONBLOCK);
    if (fd < 0 || ncdb > 32 || buf == NULL) {
        printf("open %s: errno %d\n", dev, errno);
        return 1;
    }
    for (int i = 0; i < ncdb; ++i)
        cdb[i] = (unsigned char)strtoul(cdbtext[i], NULL, 16);
    memset(&io, 0, sizeof io);
    memset(sense, 0, sizeof sense);
    io.interface_id = 'S';
    io.cmdp = cdb;
    io.cmd_len = (unsigned char)ncdb;
    io.sbp = sense;
    io.mx_sb_len = sizeof sense;
    io.dxferp = buf;
    io.dxfer_len = len;
    io.timeout = 20000;
    if (strcmp(dir, "out") == 0) {
        io.dxfer_direction = SG_DXFER_TO_DEV;
        memset(buf, 0x5A, len);
    } else if (strcmp(dir, "in") == 0) {
        io.dxfer_direction = SG_DXFER_FROM_DEV;
    } else {
        io.dxfer_direction = SG_DXFER_NONE;
    }
    int rc = ioctl(fd, SG_IO, &io);
    printf("ioctl=%d errno=%d status=0x%02x masked=0x%02x host_status=0x%04x driver_status=0x%04x "
           "info=0x%x resid=%d duration=%u sb_len_wr=%u\n",
           rc, rc < 0 ? errno : 0, io.status, io.masked_status, io.host_status, io.driver_status,
           io.info, io.resid, io.duration, io.sb_len_wr);
    printf("sense:");
    for (unsigned i = 0; i < io.sb_len_wr; ++i)
        printf(" %02x", sense[i]);
    printf("\n");
    if (io.dxfer_direction == SG_DXFER_FROM_DEV && rc == 0) {
        unsigned sum = 0;
        for (unsigned i = 0; i < len; ++i)
            sum += buf[i];
        printf("data[0..15]:");
        for (unsigned i = 0; i < 16 && i < len; ++i)
            printf(" %02x", buf[i]);
        if (len >= 512)
            printf("  word255=%02x%02x sum512=0x%02x", buf[511], buf[510], sum & 0xFF);
        printf("\n");
    }
    close(fd);
    free(buf);
    return 0;
}

static int probe_nvme(const char *dev, unsigned opcode, unsigned cdw10, unsigned cdw11, unsigned len)
{
    struct nvme_admin_cmd cmd;
    void *buf = calloc(1, len ? len : 1);
    int fd = open(dev, O_RDWR);
    if (fd < 0 || buf == NULL) {
        printf("open %s: errno %d\n", dev, errno);
        return 1;
    }
    memset(&cmd, 0, sizeof cmd);
    memset(buf, 0x5A, len);
    cmd.opcode = (unsigned char)opcode;
    cmd.cdw10 = cdw10;
    cmd.cdw11 = cdw11;
    cmd.addr = (unsigned long)buf;
    cmd.data_len = len;
    cmd.timeout_ms = 20000;
    int rc = ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    printf("ioctl=%d errno=%d status=0x%x (sct=%u sc=0x%02x dnr=%u) result=0x%x\n", rc, rc < 0 ? errno : 0,
           rc > 0 ? rc : 0, rc > 0 ? (rc >> 8) & 7 : 0, rc > 0 ? rc & 0xFF : 0, rc > 0 ? (rc >> 14) & 1 : 0,
           cmd.result);
    close(fd);
    free(buf);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 6 && strcmp(argv[1], "sg") == 0)
        return probe_sg(argv[2], argv[3], (unsigned)strtoul(argv[4], NULL, 0), argc - 5, argv + 5);
    if (argc == 7 && strcmp(argv[1], "nvme") == 0)
        return probe_nvme(argv[2], (unsigned)strtoul(argv[3], NULL, 0), (unsigned)strtoul(argv[4], NULL, 0),
                          (unsigned)strtoul(argv[5], NULL, 0), (unsigned)strtoul(argv[6], NULL, 0));
    fprintf(stderr, "usage: sgio_probe sg DEV in|out|none LEN CDB...\n"
                    "       sgio_probe nvme DEV OPCODE CDW10 CDW11 LEN\n");
    return 2;
}
