// The end-to-end runs of the controller plug-ins: firmstep in a temporary
// directory with a configuration that loads cvpl-local and one controller
// plug-in, the simulated controllers' farm beside it ("farm.properties") and
// firmware images the farm's drives accept.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace firmstep::test {

// A SATA and a SAS VT drive and a SAS drive of another maker, keeping their
// firmware in "state/"; `controllers` adds the controllers' own keys, and the
// faults go to the end of the VT drives' descriptions.
std::string ControllerFarmText(const std::string& controllers, const std::string& sasFaults = "",
                               const std::string& sataFaults = "");

class ControllerBed {
public:
    ControllerBed(const std::string& plugin, const std::string& farm, Environment environment = {});
    // Runs firmstep there with "-cfg firmstep.ini" appended.
    ProgramResult run(std::vector<std::string> args) const;
    std::string file(const std::string& name) const { return (dir_.path() / name).string(); }

private:
    TempDir dir_;
    Environment environment_;
};

// The cycle every controller plug-in must carry: both VT drives listed with
// their kinds, downloaded and activated in one batch run, and listed again
// with the new revision.
void ExpectListUpdateAndNewRevisions(const ControllerBed& bed);

bool Has(const ProgramResult& result, const std::string& text);

// Whether a preloaded stand-in can run in front of this build (not in front of a sanitizer's runtime).
bool PreloadPossible();

}  // namespace firmstep::test
