// End-to-end: the report file ("-report") of the built firmstep on simulated
// drives. Every report is checked against the published schema, then read for
// what the run did to each drive.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>

#include "e2e_farm.h"

namespace firmstep::test {
namespace {

using Json = nlohmann::json;

const std::vector<SimDrive> kMixedFarm = {
    {"ata1", "kind=ata; model=VT-2000 Series; serial=VTA0001; revision=VT01; oui=0x02A001"},
    {"ata2", "kind=ata; model=VT-1500 Series; serial=VTA0002; revision=VT01; oui=0x02A001", 2},
    {"sas1", "kind=scsi; vendor=VT; product=SAS-900; serial=VTS0001; revision=VT01; wwn=0x502A002000000001"},
    {"nvme1", "kind=nvme; model=VT NVMe 3000; serial=VTN0001; revision=VT01; oui=0x02A003; firmware_slots=3"},
    {"acme", "kind=ata; model=Acme Disk 500; serial=ACM0001; revision=AC10; oui=0x00A0B0"},
};

// The report at `path`, after the schema validator has accepted it.
Json ValidReport(const std::filesystem::path& path)
{
    const std::string command = std::string("'") + REPORT_VALIDATOR_PYTHON + "' '" + REPORT_VALIDATOR + "' '" +
                                REPORT_SCHEMA + "' '" + path.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << "the report does not validate: " << ReadFile(path);
    return Json::parse(ReadFile(path));
}

std::vector<std::string> StepNames(const Json& update)
{
    std::vector<std::string> names;
    for (const Json& step : update["steps"])
        names.push_back(step["step"].get<std::string>() + "@" + std::to_string(step["path"].get<int>()));
    return names;
}

// The whole job on every kind of drive: the drives found (the other maker's
// left out, two paths folded into one entry), a selected subset updated with
// the revision before and after, and the console output exactly that of the
// same command line without "-report".
TEST(E2eReport, DownloadAndActivationOnEveryKind)
{
    const std::vector<std::string> args = {"fw.bin", "-batch_mode", "-dev", "0-1,3", "-flags", "7",
                                           "-nvme_slot", "2", "-nvme_ca", "1"};
    const Farm plain(kMixedFarm);
    plain.writeImage("fw.bin", "VT", "VT02", 16384);
    const ProgramResult without = plain.run(args);

    const Farm farm(kMixedFarm);
    farm.writeImage("fw.bin", "VT", "VT02", 16384);
    std::vector<std::string> reported = args;
    reported.insert(reported.end(), {"-report", "run.json"});
    const ProgramResult result = farm.run(reported);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, without.output);

    const Json report = ValidReport(farm.dir() / "run.json");
    EXPECT_EQ(report["outcome"], "completed");
    EXPECT_EQ(report["exitStatus"], 0);
    EXPECT_EQ(report["summary"]["successes"], 3);
    EXPECT_EQ(report["summary"]["failures"], 0);
    EXPECT_EQ(report["machine"]["url"], "cv-local://localhost");
    EXPECT_EQ(report["commandLine"].back(), "firmstep.ini");
    ASSERT_EQ(report["drives"].size(), 4u);

    const Json& ata2 = report["drives"][1];
    EXPECT_EQ(ata2["serialNumber"], "VTA0002");
    EXPECT_EQ(ata2["type"], "ATA");
    ASSERT_EQ(ata2["paths"].size(), 2u);
    EXPECT_EQ(ata2["paths"][0]["resource"], "simdrive:ata2");
    EXPECT_EQ(ata2["paths"][1]["resource"], "simdrive:ata2:2");
    EXPECT_EQ(ata2["paths"][0]["service"], "ata/device");
    EXPECT_EQ(ata2["update"]["revisionBefore"], "VT01");
    EXPECT_EQ(ata2["update"]["revisionAfter"], "VT02");
    EXPECT_EQ(StepNames(ata2["update"]), (std::vector<std::string>{"download@0", "activation@0", "identify@0"}));

    const Json& sas = report["drives"][2];
    EXPECT_EQ(sas["wwn"], "502A0020");
    EXPECT_FALSE(sas["selected"]);
    EXPECT_TRUE(sas["update"].is_null());
    EXPECT_EQ(sas["firmwareRevision"], "VT01");

    const Json& nvme = report["drives"][3];
    EXPECT_TRUE(nvme["selected"]);
    EXPECT_EQ(StepNames(nvme["update"]),
              (std::vector<std::string>{"download@0", "commit@0", "reset@0", "identify@0"}));
    EXPECT_EQ(nvme["update"]["revisionAfter"], "VT02");
    EXPECT_TRUE(nvme["update"]["resetNeeded"].is_null());
    EXPECT_EQ(farm.savedRevision("nvme", "VTN0001"), "VT02");
}

// A damaged image: every drive refuses it and the report gives each one's
// reason, attempts and the revision it stayed on; a retry on the second path
// of the two-path drive shows as its own steps.
TEST(E2eReport, CorruptImageFailsEveryDriveWithItsReason)
{
    const Farm farm({kMixedFarm[1], kMixedFarm[3]});
    farm.writeImage("good.bin", "VT", "VT02", 16384);
    std::string image = ReadFile(farm.dir() / "good.bin");
    image[image.size() / 2] ^= 0x5A;
    WriteFile(farm.dir() / "bad.bin", image);

    const ProgramResult result =
        farm.run({"bad.bin", "-batch_mode", "-flags", "6", "-retries", "2", "-report", "bad.json"});
    EXPECT_EQ(result.status, 127) << result.output;
    const Json report = ValidReport(farm.dir() / "bad.json");
    EXPECT_EQ(report["exitStatus"], 127);
    EXPECT_EQ(report["summary"]["failures"], 2);
    for (const Json& drive : report["drives"]) {
        const Json& update = drive["update"];
        EXPECT_EQ(update["result"], "failed") << drive;
        EXPECT_FALSE(update["message"].get<std::string>().empty()) << drive;
        EXPECT_NE(update["errorCode"], 0) << drive;
        EXPECT_EQ(update["revisionBefore"], "VT01");
        const Json& last = update["steps"].back();
        if (drive["type"] == "NVMe") {
            // The NVMe drive is identified again after a failure too.
            EXPECT_EQ(last["step"], "identify");
            EXPECT_EQ(update["revisionAfter"], "VT01");
        } else {
            EXPECT_EQ(last["attempts"], 2) << drive;
            EXPECT_EQ(last["message"], update["message"]) << drive;
            EXPECT_TRUE(update["revisionAfter"].is_null()) << drive;
        }
    }
    EXPECT_EQ(StepNames(report["drives"][0]["update"]), (std::vector<std::string>{"download@0", "download@1"}));
}

// What a drive still needs before it runs the new firmware: an NVMe image
// committed for the next reset without one, and a deferred ATA download
// without its activation.
TEST(E2eReport, PendingResetsAreReported)
{
    const Farm farm({kMixedFarm[0], kMixedFarm[3]});
    farm.writeImage("fw.bin", "VT", "VT02", 16384);
    const ProgramResult nvme =
        farm.run({"fw.bin", "-batch_mode", "-dev", "1", "-flags", "2", "-nvme_ca", "1", "-report", "nvme.json"});
    EXPECT_EQ(nvme.status, 0) << nvme.output;
    const Json committed = ValidReport(farm.dir() / "nvme.json")["drives"][1]["update"];
    EXPECT_EQ(committed["resetNeeded"], "a controller level reset");
    EXPECT_EQ(committed["revisionAfter"], "VT01");

    const ProgramResult ata = farm.run({"fw.bin", "-batch_mode", "-dev", "0", "-flags", "1", "-report", "ata.json"});
    EXPECT_EQ(ata.status, 0) << ata.output;
    EXPECT_EQ(ValidReport(farm.dir() / "ata.json")["drives"][0]["update"]["resetNeeded"],
              "an activation or a power cycle");
}

// Runs that end early still leave a report that says why; a report that
// cannot be written stops the run before any drive is touched; an existing
// report is replaced whole, with no temporary file left behind.
TEST(E2eReport, EarlyEndsAndTheFileItself)
{
    const Farm none({kMixedFarm[4]});
    const ProgramResult empty = none.run({"-batch_mode", "-report", "none.json"});
    EXPECT_EQ(empty.status, 0) << empty.output;
    const Json noDrives = ValidReport(none.dir() / "none.json");
    EXPECT_EQ(noDrives["outcome"], "noDrives");
    EXPECT_TRUE(noDrives["drives"].empty());
    EXPECT_NE(noDrives["message"].get<std::string>().find("Unable to find a VT service"), std::string::npos);

    const Farm farm({kMixedFarm[0]});
    farm.writeImage("fw.bin", "VT", "VT02", 16384);
    const ProgramResult unwritable = farm.run({"fw.bin", "-batch_mode", "-report", "missing/r.json"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.output.find("ERROR: Firmware WAS NOT downloaded/activated - cannot write the report file "
                                     "'missing/r.json': No such file or directory\n"),
              std::string::npos)
        << unwritable.output;
    EXPECT_EQ(unwritable.output.find("Device 0"), std::string::npos);
    const ProgramResult image = farm.run({"fw.bin", "-batch_mode", "-report", "./fw.bin"});
    EXPECT_EQ(image.status, 1);
    EXPECT_NE(image.output.find("'./fw.bin': it is one of the files the run reads\n"), std::string::npos)
        << image.output;
    EXPECT_EQ(ReadFile(farm.dir() / "fw.bin").size(), 16384u);
    EXPECT_EQ(farm.savedRevision("ata", "VTA0001"), "");

    const ProgramResult config =
        RunProgram({"-batch_mode", "-cfg", "absent.ini", "-report", "r.json"}, farm.dir());
    EXPECT_EQ(config.status, 4) << config.output;
    EXPECT_EQ(ValidReport(farm.dir() / "r.json")["outcome"], "configurationFailed");

    const ProgramResult listed = farm.run({"-list", "-report", "r.json"});
    EXPECT_EQ(listed.status, 0);
    const Json list = ValidReport(farm.dir() / "r.json");
    EXPECT_EQ(list["outcome"], "listed");
    EXPECT_TRUE(list["drives"][0]["update"].is_null());
    for (const auto& entry : std::filesystem::directory_iterator(farm.dir()))
        EXPECT_NE(entry.path().filename().string().rfind(".r.json.", 0), 0u) << entry.path();
}

}  // namespace
}  // namespace firmstep::test
