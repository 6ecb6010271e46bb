// End-to-end: firmware download and activation by the built firmstep on
// simulated ATA, SCSI and NVMe drives (cvpl-simdrive through cvpl-local). A
// simulated drive only takes a new revision when every byte of a valid image
// reached it, so the saved revision shows what the drive received; segment
// faults show how many segments it was sent.
#include <gtest/gtest.h>

#include "e2e_farm.h"

namespace firmstep::test {
namespace {

std::string Ata(const std::string& name, const std::string& extra = "")
{
    return "kind=ata; model=VT-2000 Series; serial=" + name + "; revision=VT01; oui=0x02A001" + extra;
}

bool Has(const ProgramResult& result, const std::string& text)
{
    return result.output.find(text) != std::string::npos;
}

// 18,432 bytes in segments of 8 blocks: 8, 8, 8, 8 and 4 blocks. One drive is
// told to refuse a sixth segment, which it must never see; the other refuses
// the fifth, which it must see.
TEST(E2eAta, DeferredDownloadInSegmentsThenActivation)
{
    const Farm farm({{"seg0", Ata("SEG0000", "; max_download_blocks=8; fault.fail_segment=6")},
                     {"seg1", Ata("SEG0001", "; max_download_blocks=8; fault.fail_segment=5")}});
    farm.writeImage("fw.bin", "VT", "VT02", 18432);

    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-flags", "3", "-debug"});
    EXPECT_EQ(result.status, 100) << result.output;
    EXPECT_TRUE(Has(result,
                    "Device 0 = VT-2000 Series  SEG0000  FW VT01\n"
                    "  Downloading firmware (I/O transfer length = 4096) ...\n"
                    "subCommandByte=14 nextCommandBlocks=8 downloadOffset=0 parameters.dataLengths[ 1 ]=4096\n"
                    "subCommandByte=14 nextCommandBlocks=8 downloadOffset=4096 parameters.dataLengths[ 1 ]=4096\n"
                    "subCommandByte=14 nextCommandBlocks=8 downloadOffset=8192 parameters.dataLengths[ 1 ]=4096\n"
                    "subCommandByte=14 nextCommandBlocks=8 downloadOffset=12288 parameters.dataLengths[ 1 ]=4096\n"
                    "subCommandByte=14 nextCommandBlocks=4 downloadOffset=16384 parameters.dataLengths[ 1 ]=2048\n"
                    "  SUCCESS: Firmware download completed successfully\n"
                    "  Activating firmware...\n"
                    "subCommandByte=15"))
        << result.output;
    EXPECT_TRUE(Has(result, "  SUCCESS: Activate firmware completed successfully\n"
                            "  VT-2000 Series  SEG0000  FW VT02\n"));
    EXPECT_EQ(farm.savedRevision("ata", "SEG0000"), "VT02");

    EXPECT_EQ(LinesWith(result.output, "downloadOffset=16384").size(), 2u);
    EXPECT_EQ(LinesWith(result.output, " task file register status=").size(), 1u);
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n  Error Code: 4\n"));
    EXPECT_TRUE(Has(result, "Firmware Download and Activate Summary\n"
                            "  Successful Download and Activations =   1\n"
                            "  Failed Download and Activations     =   1\n"));
}

// A deferred download leaves the drive on its old revision until it is
// activated or powered on again (the next run starts the drive afresh from its
// saved state). "-flags 2" without an image sends only the activation, which
// the drive then refuses: nothing is waiting.
TEST(E2eAta, DeferredDownloadAndActivationAlone)
{
    const Farm farm({{"def0", Ata("DEF0000")}});
    farm.writeImage("fw.bin", "VT", "VT02", 8192);

    const ProgramResult download = farm.run({"fw.bin", "-batch_mode", "-flags", "1"});
    EXPECT_EQ(download.status, 0);
    EXPECT_TRUE(Has(download, "  SUCCESS: Firmware download completed successfully\n"
                              "  VT-2000 Series  DEF0000  FW VT01\n"))
        << download.output;
    EXPECT_FALSE(Has(download, "Activating firmware"));
    EXPECT_TRUE(Has(download, "Firmware Download Summary\n  Successful Downloads =   1\n"));

    const ProgramResult activate = farm.run({"-batch_mode", "-flags", "2", "-debug"});
    EXPECT_EQ(activate.status, 127) << activate.output;
    EXPECT_TRUE(Has(activate, "Device 0 = VT-2000 Series  DEF0000  FW VT02\n"
                              "  Activating firmware...\n"
                              "subCommandByte=15 task file register status=0x51 lbaLow=0x0 secCount=0x0 error=0x4\n"))
        << activate.output;
    EXPECT_FALSE(Has(activate, "  Downloading firmware (I/O"));
    EXPECT_TRUE(Has(activate, "  FAILURE: Firmware activation failed\n  Error Code: 4\n"));
    EXPECT_TRUE(Has(activate, "Firmware Activation Summary\n  Successful Activations =   0\n"));
}

// "-dma" sends DOWNLOAD MICROCODE DMA: the drive without DMA aborts it. A batch
// in which a drive failed exits 100 whichever drive came last.
TEST(E2eAta, DmaDownloadAndExitStatusWhicheverOrder)
{
    const Farm dmaLast({{"nodma", Ata("NODMA01")}, {"dma", Ata("DMA0001", "; dma=yes")}});
    const Farm dmaFirst({{"dma", Ata("DMA0001", "; dma=yes")}, {"nodma", Ata("NODMA01")}});
    for (const Farm* farm : {&dmaLast, &dmaFirst})
        farm->writeImage("fw.bin", "VT", "VT02", 8192);

    const ProgramResult successLast = dmaLast.run({"fw.bin", "-batch_mode", "-dma"});
    EXPECT_EQ(successLast.status, 100) << successLast.output;
    EXPECT_EQ(dmaLast.savedRevision("ata", "DMA0001"), "VT02");
    EXPECT_EQ(dmaLast.savedRevision("ata", "NODMA01"), "");

    const ProgramResult failureLast = dmaFirst.run({"fw.bin", "-batch_mode", "-dma"});
    EXPECT_EQ(failureLast.status, 100) << failureLast.output;
    EXPECT_TRUE(Has(failureLast, "  FAILURE: Firmware download failed\n  Error Code: 4\n"));
    EXPECT_TRUE(Has(failureLast, "  Successful Downloads =   1\n  Failed Downloads     =   1\n"));
    EXPECT_EQ(dmaFirst.savedRevision("ata", "DMA0001"), "VT02");
}

// The first drive refuses its first two downloads, the second every one.
TEST(E2eAta, RetriesThenFailureLines)
{
    const Farm farm({{"retry", Ata("RETRY01", "; fault.fail_download_attempts=2")},
                     {"broken", Ata("BROKEN1", "; fault.fail_segment=1; fault.fail_segment_always=yes")}});
    farm.writeImage("fw.bin", "VT", "VT02", 8192);

    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-retries", "3"});
    EXPECT_EQ(result.status, 100) << result.output;
    EXPECT_TRUE(Has(result, "Device 0 = VT-2000 Series  RETRY01  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 65536) ...\n"))
        << result.output;
    EXPECT_TRUE(Has(result, "  Retry attempt 1\n"));
    EXPECT_TRUE(Has(result, "  Retry attempt 2\n  SUCCESS: Firmware download completed successfully\n"
                            "  VT-2000 Series  RETRY01  FW VT02\n"));
    EXPECT_EQ(LinesWith(result.output, "  Retry attempt ").size(), 4u);
    EXPECT_EQ(LinesWith(result.output, " task file register status=0x51").size(), 5u);
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed\n  Error Code: 4\n"));
    EXPECT_TRUE(Has(result, "  Successful Downloads =   1\n  Failed Downloads     =   1\n"));
    EXPECT_EQ(farm.savedRevision("ata", "RETRY01"), "VT02");
    EXPECT_EQ(farm.savedRevision("ata", "BROKEN1"), "");
}

// Images that cannot be sent whole in 512-byte blocks are refused before any
// command, each drive counting as failed; with no success the status is 127.
TEST(E2eAta, ImagesOfPartialBlocksAreRefused)
{
    const Farm farm({{"small", "kind=ata; model=VT-Small; serial=SMALL01; revision=VT01; oui=0x02A001"},
                     {"odd", "kind=ata; model=VT-Odd; serial=ODD0001; revision=VT01; oui=0x02A001"}});
    WriteFile(farm.dir() / "small.bin", std::string(511, 'x'));
    WriteFile(farm.dir() / "odd.bin", std::string(1000, 'x'));
    WriteFile(farm.dir() / "models.txt", "VT-Small,VT00,small.bin\nVT-Odd,VT00,odd.bin\n");

    const ProgramResult result = farm.run({"-model", "models.txt"});
    EXPECT_EQ(result.status, 127) << result.output;
    EXPECT_FALSE(Has(result, "  Downloading firmware (I/O"));
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed; firmware file 'small.bin' is too small\n"
                            "  Error Code: 4\n"));
    EXPECT_TRUE(Has(result, "  FAILURE: Firmware download failed; firmware file 'odd.bin' is 1000 bytes long, "
                            "not a whole number of 512-byte blocks\n  Error Code: 4\n"));
    EXPECT_TRUE(Has(result, "  Successful Downloads =   0\n  Failed Downloads     =   2\n"));
}

// "-cs" above what the drive and the serving library report warns and is used;
// a drive reporting no largest block count starts from 32 MiB, lowered to the
// library's 128 KiB.
TEST(E2eAta, TransferLengthChoice)
{
    const Farm farm({{"big", Ata("BIGCS01", "; max_download_blocks=0")}, {"small", Ata("SMALLCS", "")}});
    farm.writeImage("fw.bin", "VT", "VT02", 4096);

    const ProgramResult chosen = farm.run({"fw.bin", "-batch_mode", "-dev", "0"});
    EXPECT_TRUE(Has(chosen, "  Downloading firmware (I/O transfer length = 131072) ...\n")) << chosen.output;
    EXPECT_EQ(chosen.status, 0);

    const ProgramResult forced = farm.run({"fw.bin", "-batch_mode", "-dev", "1", "-cs", "262144"});
    EXPECT_TRUE(Has(forced, "Device 1 = VT-2000 Series  SMALLCS  FW VT01\n"
                            "  WARNING: Device 1 may not support this I/O transfer length, but trying anyway\n"
                            "  WARNING: Library for device 1 may not support this I/O transfer length, but "
                            "trying anyway\n"
                            "  Downloading firmware (I/O transfer length = 262144) ...\n"))
        << forced.output;
}

// "-cs 1000" is not a whole number of blocks: refused with status 2 when an ATA
// drive is present, used as it is for SCSI and NVMe drives.
TEST(E2eExitStatus, TransferLengthOfPartialBlocks)
{
    const Farm ata({{"ata", Ata("CSATA01")}});
    ata.writeImage("fw.bin", "VT", "VT02", 4096);
    const ProgramResult refused = ata.run({"fw.bin", "-batch_mode", "-cs", "1000"});
    EXPECT_EQ(refused.status, 2) << refused.output;
    EXPECT_FALSE(Has(refused, "Device 0 ="));
    EXPECT_EQ(ata.savedRevision("ata", "CSATA01"), "");

    const Farm nvme({SimDrive{"nvme", "kind=nvme; model=VT NVMe 3000; serial=CSNVME1; revision=VT01; oui=0x02A003"}});
    nvme.writeImage("fw.bin", "VT", "VT02", 4096);
    const ProgramResult used = nvme.run({"fw.bin", "-batch_mode", "-cs", "1000"});
    EXPECT_EQ(used.status, 0) << used.output;
    EXPECT_TRUE(Has(used, "  Downloading firmware (I/O transfer length = 1000) ...\n"
                          "  SUCCESS: Firmware image download completed successfully\n"));
}

std::string Sas(const std::string& serial)
{
    return "kind=scsi; vendor=VT; product=SAS-900; serial=" + serial + "; revision=VT01; wwn=0x502A002000000001";
}

std::string Cdb(int index, int value)
{
    char line[64];
    std::snprintf(line, sizeof line, "SCSI CDB[%d]= %d (0x%02X)\n", index, value, value);
    return line;
}

std::string WriteBuffer(int mode, int offset, int length)
{
    return " parameters.dataLengths[ 1 ]=" + std::to_string(length) + "\n" + Cdb(0, 0x3B) + Cdb(1, mode) +
           Cdb(2, 0) + Cdb(3, (offset >> 16) & 0xFF) + Cdb(4, (offset >> 8) & 0xFF) + Cdb(5, offset & 0xFF) +
           Cdb(6, (length >> 16) & 0xFF) + Cdb(7, (length >> 8) & 0xFF) + Cdb(8, length & 0xFF) + Cdb(9, 0);
}

TEST(E2eScsi, ImageInThreeWriteBufferCommands)
{
    const Farm farm({{"sas", Sas("SAS0001")}});
    farm.writeImage("fw.bin", "VT SAS", "VT02", 40000);

    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-debug"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(Has(result, "  Downloading firmware (I/O transfer length = 16384) ...\n" +
                                WriteBuffer(7, 0, 16384) + WriteBuffer(7, 16384, 16384) +
                                WriteBuffer(7, 32768, 7232) +
                                "  SUCCESS: Firmware download completed successfully\n"))
        << result.output;
    EXPECT_TRUE(Has(result, "  VT SAS-900  SAS0001  FW VT02\n"));
    EXPECT_EQ(farm.savedRevision("scsi", "SAS0001"), "VT02");
}

// A drive that answers the sender's next command after every microcode
// segment with UNIT ATTENTION: each later segment is sent again and the
// download goes on from it, not from the start, and the drive takes the image.
TEST(E2eScsi, UnitAttentionAfterEachSegmentIsSentAgain)
{
    const Farm farm({{"sas", Sas("SAS0003") + "; fault.unit_attention_to_sender=yes"}});
    farm.writeImage("fw.bin", "VT SAS", "VT02", 40000);

    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-debug"});
    EXPECT_EQ(result.status, 0) << result.output;
    const std::string again = "SCSI Sense[17]= 0 (0x0)\nSCSI unit attention: sending the command again\n";
    EXPECT_TRUE(Has(result, WriteBuffer(7, 0, 16384) + WriteBuffer(7, 16384, 16384) + "SCSI Status = 2\n"))
        << result.output;
    EXPECT_TRUE(Has(result, again + WriteBuffer(7, 32768, 7232) + "SCSI Status = 2\n"));
    EXPECT_TRUE(Has(result, again + "  SUCCESS: Firmware download completed successfully\n"));
    EXPECT_EQ(LinesWith(result.output, "SCSI unit attention").size(), 2u) << result.output;
    EXPECT_EQ(farm.savedRevision("scsi", "SAS0003"), "VT02");
}

// Mode 46 reaches the drive as 14 (deferred download), which the activation
// (mode 0x0F) then applies. "-flags 2" without an image sends only mode 0x0F,
// which the drive refuses when nothing is waiting.
TEST(E2eScsi, SasModeAndActivation)
{
    const Farm farm({{"sas", Sas("SAS0002")}});
    farm.writeImage("fw.bin", "VT SAS", "VT02", 40000);

    const ProgramResult update = farm.run({"fw.bin", "-batch_mode", "-sas_mode", "46", "-flags", "2", "-debug"});
    EXPECT_EQ(update.status, 0) << update.output;
    EXPECT_TRUE(Has(update, WriteBuffer(14, 0, 16384) + WriteBuffer(14, 16384, 16384) +
                                WriteBuffer(14, 32768, 7232) +
                                "  SUCCESS: Firmware download completed successfully\n"
                                "  Activating firmware...\n" +
                                Cdb(0, 0x3B) + Cdb(1, 0x0F) + Cdb(2, 0)))
        << update.output;
    EXPECT_TRUE(Has(update, "  SUCCESS: Activate firmware completed successfully\n"
                            "  VT SAS-900  SAS0002  FW VT02\n"));
    EXPECT_EQ(farm.savedRevision("scsi", "SAS0002"), "VT02");

    const ProgramResult activate = farm.run({"-batch_mode", "-flags", "2", "-debug"});
    EXPECT_EQ(activate.status, 127) << activate.output;
    EXPECT_EQ(LinesWith(activate.output, "SCSI CDB[0]=").size(), 1u);
    EXPECT_TRUE(Has(activate, "  Activating firmware...\n" + Cdb(0, 0x3B) + Cdb(1, 0x0F) + Cdb(2, 0)));
    EXPECT_TRUE(Has(activate, "SCSI Status = 2\n"));
    EXPECT_TRUE(Has(activate, "  FAILURE: Firmware activate failed\n  Error Code: 2\n"));
}

// Commit to slot 2 of a two-slot drive (warned, still sent), activation and
// controller reset; a drive without download support is warned about and
// tried, and its identity is read again after the failed download.
TEST(E2eNvme, CommitResetAndWarnings)
{
    const Farm farm(
        {{"nvme", "kind=nvme; model=VT NVMe 3000; serial=NVA0001; revision=VT01; oui=0x02A003; firmware_slots=2"},
         {"nodl", "kind=nvme; model=VT NVMe 100; serial=NVB0001; revision=VT01; oui=0x02A003; firmware_update=no"}});
    farm.writeImage("fw.bin", "VT", "VT02", 16384);

    const ProgramResult result =
        farm.run({"fw.bin", "-batch_mode", "-flags", "6", "-nvme_slot", "2", "-nvme_ca", "1"});
    EXPECT_EQ(result.status, 100) << result.output;
    EXPECT_TRUE(Has(result, "Device 0 = VT NVMe 3000  NVA0001  FW VT01\n"
                            "  Downloading firmware (I/O transfer length = 4096) ...\n"
                            "  SUCCESS: Firmware image download completed successfully\n"
                            "  WARNING: The device 0 has 2 slots, but trying to commit to slot 2 anyway\n"
                            "  SUCCESS: NVMe firmware commit completed successfully\n"
                            "  SUCCESS: NVMe reset completed successfully\n"
                            "  VT NVMe 3000  NVA0001  FW VT02\n"))
        << result.output;
    EXPECT_EQ(farm.savedRevision("nvme", "NVA0001"), "VT02");
    EXPECT_TRUE(Has(result, "Device 1 = VT NVMe 100  NVB0001  FW VT01\n"
                            "  WARNING: The device 1 reports that download is not supported, but trying anyway\n"));
    EXPECT_TRUE(Has(result, "  VT NVMe 100  NVB0001  FW VT01\n\n  FAILURE: "));
    EXPECT_TRUE(Has(result, "NVMe Controller Reset Summary\n"));
}

// Commit action 3 on drives that cannot activate without a reset: each answers
// with the reset it needs. The image is committed all the same, the note names
// the reset, and "-flags 4" goes on to the reset that brings the new revision up.
TEST(E2eNvme, CommitStatusesThatAskForAReset)
{
    const std::string drive = "kind=nvme; model=VT NVMe 3000; revision=VT01; oui=0x02A003; activation_reset=";
    const Farm farm({{"conv", drive + "conventional; serial=NVR0001"},
                     {"subs", drive + "subsystem; serial=NVR0002"},
                     {"ctrl", drive + "controller; serial=NVR0003"}});
    farm.writeImage("fw.bin", "VT", "VT02", 8192);

    const ProgramResult result = farm.run({"fw.bin", "-batch_mode", "-flags", "6", "-nvme_ca", "3"});
    EXPECT_EQ(result.status, 0) << result.output;
    const char* resets[] = {"a conventional reset", "an NVM subsystem reset", "a controller level reset"};
    for (int i = 0; i < 3; ++i) {
        const std::string serial = "NVR000" + std::to_string(i + 1);
        EXPECT_TRUE(Has(result, "  SUCCESS: NVMe firmware commit completed successfully\n"
                                "  NOTE: The firmware was committed; the drive needs " +
                                    std::string(resets[i]) +
                                    " to run it\n"
                                    "  SUCCESS: NVMe reset completed successfully\n"
                                    "  VT NVMe 3000  " +
                                    serial + "  FW VT02\n"))
            << result.output;
        EXPECT_EQ(farm.savedRevision("nvme", serial), "VT02");
    }
    EXPECT_TRUE(Has(result, "  Successful Activations =   3\n  Failed Activations     =   0\n"));
}

}  // namespace
}  // namespace firmstep::test
