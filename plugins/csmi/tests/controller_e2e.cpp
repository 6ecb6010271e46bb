// The controller plug-ins' end-to-end bed.
#include "controller_e2e.h"

#include "e2e_farm.h"

namespace firmstep::test {

std::string ControllerFarmText(const std::string& controllers, const std::string& sasFaults) {
    return "Drives=vt-sata1,vt-sas1,other-sas\n"
           "Drive.vt-sata1=kind=ata; model=VT-2000 Series; serial=CTA0001; revision=VT01; oui=0x02A001\n"
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
