// What downloading a 16 MiB image to an ATA drive costs outside the drive:
// the tool's AtaDownload through the real framework ("cv-local" machine,
// cvpl-local, cvpl-simdrive) against the simulated drive's own work for the
// same segments (AtaDrive::execute called directly). The difference is the
// tool's, the framework's and the plug-in's share. The image is loaded from
// its file once, as the per-drive step does for each drive; the download also
// counts the segments whose data does not point into that one copy.
#include <benchmark/benchmark.h>
#include <corvane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "ata_update.h"
#include "device/ata_device.h"
#include "drive_table.h"
#include "firmware_image.h"
#include "framework_calls.h"
#include "simdrive/ata_drive.h"
#include "simdrive/drive_description.h"
#include "simdrive/firmware_image.h"

namespace {

constexpr std::size_t kImageBytes = 16u * 1024 * 1024;
// The default transfer length for a drive reporting 128 blocks per segment,
// below the 128 KiB the simulator plug-in's ATA service takes.
constexpr std::uint32_t kTransferLength = 128 * 512;
constexpr std::size_t kSegments = kImageBytes / kTransferLength;
const char kDescription[] = "kind=ata; model=VT-Bench Series; serial=BENCH01; revision=VT01; oui=0x02A001";

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

struct Fixture {
    std::filesystem::path directory;
    std::filesystem::path imagePath;
    CvUID machine = CV_UID_NONE;
    firmstep::AccessPath path{CV_UID_NONE, CV_UID_NONE};
};

Fixture& TheFixture()
{
    static Fixture fixture = [] {
        Fixture made;
        made.directory = std::filesystem::temp_directory_path() / ("firmstep-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(made.directory);

        simdrive::ImageRecipe recipe;
        recipe.modelPrefix = "VT";
        recipe.revision = "VT02";
        recipe.payload = simdrive::patternPayload(kImageBytes - simdrive::kImageHeaderSize, 16);
        recipe.alignment = 1;
        std::string problem;
        const std::vector<uint8_t> image = simdrive::buildImage(recipe, problem);
        if (image.size() != kImageBytes) Fail("Cannot build the image: " + problem);
        made.imagePath = made.directory / "bench-fw.bin";
        std::ofstream(made.imagePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

        const std::filesystem::path ini = made.directory / "bench.ini";
        std::ofstream(ini) << "[Corvane]\nPlugins=cvpl-local,cvpl-simdrive\nConnections=cv-local://localhost\n"
                              "[cvpl-simdrive]\nDrives=bench\nDrive.bench="
                           << kDescription << "\n";

        CvInitialize();
        CvError error;
        if (!CvHelper_ConfigureUsingINIFile(ini.c_str(), &error)) Fail(std::string("Configuring: ") + error.message);
        const auto machines = std::make_unique<CvUIDList>();
        if (!CvMachineManager_GetMachineList(machines.get(), &error) || machines->count <= 0) Fail("No machine");
        made.machine = machines->uids[0];

        const firmstep::FrameworkCalls& framework = firmstep::Framework();
        const auto resources = std::make_unique<CvUIDList>();
        const auto services = std::make_unique<CvUIDList>();
        if (!framework.getResourceList(made.machine, resources.get(), &error)) Fail("No resources");
        for (int r = 0; r < static_cast<int>(resources->count) && made.path.service == CV_UID_NONE; ++r) {
            if (!framework.getServiceList(made.machine, resources->uids[r], services.get(), &error)) continue;
            for (int s = 0; s < static_cast<int>(services->count); ++s) {
                CvServiceInfo info;
                if (framework.getServiceInfo(made.machine, resources->uids[r], services->uids[s], &info, &error) &&
                    std::strcmp(info.type, "ata/device") == 0) {
                    made.path = {resources->uids[r], services->uids[s]};
                    break;
                }
            }
        }
        if (made.path.service == CV_UID_NONE) Fail("No ata/device service");
        return made;
    }();
    return fixture;
}

// A simulated drive of kDescription, called directly.
std::unique_ptr<simdrive::SimDrive> MakeSimDrive(simdrive::AtaDrive*& ata)
{
    simdrive::DriveDescription description;
    simdrive::DescriptionError problem;
    if (!simdrive::parseDriveDescriptionText(kDescription, description, problem)) Fail("Bad description");
    std::string why;
    std::unique_ptr<simdrive::SimDrive> drive = simdrive::createDrive(description, nullptr, why);
    ata = dynamic_cast<simdrive::AtaDrive*>(drive.get());
    if (ata == nullptr) Fail("No ATA drive: " + why);
    return drive;
}

// The real framework call, with a count of segments whose data is not a
// pointer into the loaded image (a copy somewhere on the tool's side).
firmstep::FrameworkCalls g_real{};
const std::uint8_t* g_imageBegin = nullptr;
const std::uint8_t* g_imageEnd = nullptr;
std::size_t g_copiedSegments = 0;

int CheckedExecute(CvUID machine, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    const auto* data = static_cast<const std::uint8_t*>(command->buffers[1]);
    if (data != nullptr && (data < g_imageBegin || data + command->bufferLengths[1] > g_imageEnd))
        ++g_copiedSegments;
    return g_real.executeCommand(machine, resource, service, command, error);
}

void BM_LoadImage(benchmark::State& state)
{
    const Fixture& fixture = TheFixture();
    for (auto _ : state) {
        firmstep::FirmwareImage image;
        CvError error;
        if (!firmstep::LoadFirmwareImage(fixture.imagePath.c_str(), image, error)) Fail(error.message);
        benchmark::DoNotOptimize(image.bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

// The whole download through the framework: tool + framework + plug-in + drive.
void BM_ToolAtaDownload(benchmark::State& state)
{
    const Fixture& fixture = TheFixture();
    firmstep::FirmwareImage image;
    CvError error;
    if (!firmstep::LoadFirmwareImage(fixture.imagePath.c_str(), image, error)) Fail(error.message);
    g_real = firmstep::Framework();
    firmstep::FrameworkCalls checked = g_real;
    checked.executeCommand = CheckedExecute;
    const firmstep::ScopedFrameworkCalls scoped(checked);
    g_imageBegin = image.bytes.data();
    g_imageEnd = g_imageBegin + image.bytes.size();
    g_copiedSegments = 0;

    const firmstep::AtaDownloadOptions options;
    for (auto _ : state) {
        if (!firmstep::AtaDownload(fixture.machine, fixture.path, image.Data(), kTransferLength, options, error))
            Fail(std::string("Download: ") + error.message);
    }
    state.counters["segments"] = static_cast<double>(kSegments);
    state.counters["per_segment"] = benchmark::Counter(static_cast<double>(state.iterations() * kSegments),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["copied_segments"] = static_cast<double>(g_copiedSegments);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

// The drive's own work for the same segments, with no framework in between.
void BM_SimAtaDriveExecute(benchmark::State& state)
{
    const Fixture& fixture = TheFixture();
    firmstep::FirmwareImage image;
    CvError error;
    if (!firmstep::LoadFirmwareImage(fixture.imagePath.c_str(), image, error)) Fail(error.message);
    simdrive::AtaDrive* ata = nullptr;
    const std::unique_ptr<simdrive::SimDrive> drive = MakeSimDrive(ata);

    constexpr uint32_t kBlocks = kTransferLength / 512;
    for (auto _ : state) {
        for (std::size_t segment = 0; segment < kSegments; ++segment) {
            const uint32_t offset = static_cast<uint32_t>(segment * kBlocks);
            simdrive::AtaRequest request;
            request.registers.features = simdrive::ata::kDmOffsetsSaveActivate;
            request.registers.count = static_cast<uint8_t>(kBlocks & 0xFF);
            request.registers.lbaLow = static_cast<uint8_t>(kBlocks >> 8);
            request.registers.lbaMid = static_cast<uint8_t>(offset & 0xFF);
            request.registers.lbaHigh = static_cast<uint8_t>(offset >> 8);
            request.registers.command = simdrive::ata::kCmdDownloadMicrocode;
            request.phase = simdrive::AtaDataPhase::PioOut;
            request.data = std::span(image.bytes.data() + std::size_t{offset} * 512, kTransferLength);
            simdrive::AtaReply reply;
            ata->execute(request, reply);
            if (reply.registers.status & simdrive::ata::kStatusErr) Fail("The drive refused a segment");
        }
    }
    state.counters["per_segment"] = benchmark::Counter(static_cast<double>(state.iterations() * kSegments),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

// One command with next to no drive work (CHECK POWER MODE), through the
// framework and straight to the drive: the difference is the fixed cost every
// segment pays outside the drive, measured with less noise than the difference
// of two whole downloads.
void BM_FrameworkCommand(benchmark::State& state)
{
    const Fixture& fixture = TheFixture();
    CvError error;
    for (auto _ : state) {
        AtaCommandBlock block{};
        block.protocol = ATA_PROTOCOL_NON_DATA;
        block.inputMask = ATA_REG_COMMAND;
        block.outputMask = ATA_REG_SET_28BIT;
        block.command = simdrive::ata::kCmdCheckPowerMode;
        if (!firmstep::ExecuteDeviceCommand(fixture.machine, fixture.path, &block, sizeof block, nullptr, 0, error))
            Fail(std::string("Command: ") + error.message);
        benchmark::DoNotOptimize(block.outStatus);
    }
}

void BM_SimCommand(benchmark::State& state)
{
    simdrive::AtaDrive* ata = nullptr;
    const std::unique_ptr<simdrive::SimDrive> drive = MakeSimDrive(ata);
    for (auto _ : state) {
        simdrive::AtaRequest request;
        request.registers.command = simdrive::ata::kCmdCheckPowerMode;
        simdrive::AtaReply reply;
        ata->execute(request, reply);
        benchmark::DoNotOptimize(reply.registers.status);
    }
}

BENCHMARK(BM_FrameworkCommand);
BENCHMARK(BM_SimCommand);
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimAtaDriveExecute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolAtaDownload)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(TheFixture().directory, ignored);
    return 0;
}
