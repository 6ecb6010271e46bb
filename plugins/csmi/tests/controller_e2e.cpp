// The controller plug-ins' end-to-end bed.
#include "controller_e2e.h"

#include <gtest/gtest.h>

#include "e2e_farm.h"

namespace firmstep::test {

std::string ControllerFarmText(const std::string& controllers, const std::string& sasFaults,
                               const std::string& sataFaults) {
    return "Drives=vt-sata1,vt-sas1,other-sas\n"
           "Drive.vt-sata1=kind=ata; model=VT-2000 Series; serial=CTA0001; revision=VT01; oui=0x02A001" + sataFaults + "\n"
           "Drive.vt-sas1=kind=scsi; vendor=VT; product=SAS-900; serial=CTS0001; revision=VT01; "
           "wwn=0x502A002000000001" + sasFaults + "\n"
           "Drive.other-sas=kind=scsi; vendor=ACME; product=SAS Disk; serial=ACS0001; revision=A100; oui=0x00A0B0\n"
           "StateDir=state\n" + controllers;
}

ControllerBed::ControllerBed(const std::string& plugin, const std::string& farm, Environment environment)
    : environment_(std::move(environment)) {
    WriteFile(dir_.path() / "firmstep.ini",
              "[Corvane]\nPlugins=cvpl-local," + plugin + "\nConnections=cv-local://localhost\n");
    WriteFile(dir_.path() / "farm.properties", farm);
    WriteFirmwareImage(dir_.path() / "fw.bin", "VT", "VT02", 65536);
}

ProgramResult ControllerBed::run(std::vector<std::string> args) const {
    args.push_back("-cfg");
    args.push_back("firmstep.ini");
    return RunProgram(args, dir_.path(), environment_);
}

bool Has(const ProgramResult& result, const std::string& text) { return result.output.find(text) != std::string::npos; }

void ExpectListUpdateAndNewRevisions(const ControllerBed& bed) {
    ProgramResult listed = bed.run({"-list"});
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(Has(listed, "Number of VT drives found = 2\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "  0   VT-2000 Series                   CTA0001              VT01     ATA\n"));
    EXPECT_TRUE(Has(listed, "  1   VT SAS-900                       CTS0001              VT01     SCSI\n"));

    const ProgramResult updated = bed.run({"fw.bin", "-batch_mode", "-flags", "3", "-sas_mode", "46"});
    EXPECT_EQ(updated.status, 0) << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT-2000 Series  CTA0001  FW VT02\n"))
        << updated.output;
    EXPECT_TRUE(Has(updated, "  SUCCESS: Activate firmware completed successfully\n  VT SAS-900  CTS0001  FW VT02\n"));

    listed = bed.run({"-list"});
    EXPECT_TRUE(Has(listed, "CTA0001              VT02     ATA\n")) << listed.output;
    EXPECT_TRUE(Has(listed, "CTS0001              VT02     SCSI\n"));
}

bool PreloadPossible() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

}  // namespace firmstep::test
