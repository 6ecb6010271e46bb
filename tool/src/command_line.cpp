#include "command_line.h"

#include "decimal.h"
#include "exit_status.h"
#include "help_text.h"
#include "output.h"
#include "selection.h"
#include "text_format.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace firmstep {
namespace {

constexpr const char* kDriverIndexVariable = "VT_DRIVER_INDEX";

bool StartsWith(const char* text, std::string_view prefix)
{
    return std::strncmp(text, prefix.data(), prefix.size()) == 0;
}

ParseResult Failure(std::string message)
{
    return {ParseOutcome::Error, kExitCommandLineError, std::move(message)};
}

// Bits of the "-flags" value; other bits are ignored.
void ApplyFlagBits(std::int32_t bits, RunState& state)
{
    if (bits & 1)
        state.flags |= kFlagDeferredDownload;
    if (bits & 2)
        state.flags |= kFlagActivate;
    if (bits & 4)
        state.flags |= kFlagNvmeReset;
}

void OpenLogAndWriteBanner(const char* path)
{
    if (!OpenLogFile(path)) {
        ToolPrint("WARNING: Cannot open log file '%s' - continuing without a log file\n", path);
        ToolFlush();
        return;
    }
    LogBanner();
}

}  // namespace

ParseResult ParseCommandLine(int argc, char* const argv[], ToolOptions& options, RunState& state)
{
    if (argc < 2 || argv[1] == nullptr || StartsWith(argv[1], "-h") || StartsWith(argv[1], "-?"))
        return {ParseOutcome::Help, kExitSuccess, {}};

    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const char* arg = argv[i];
        // A value switch takes the next argument, whatever it looks like; null
        // when the switch is the last argument.
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };

        if (StartsWith(arg, "-batch_mode")) {
            state.flags |= kFlagBatchMode;
        } else if (StartsWith(arg, "-cs")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded - no I/O transfer length specified with '-cs'\n");
            options.requestedTransferLength = ParseDecimal(text);
            if (options.requestedTransferLength <= 0)
                return Failure(FormatText("ERROR: Firmware WAS NOT downloaded - incompatible '-cs <n>' specified '%s'\n", text));
            options.acceptedTransferLength = options.requestedTransferLength;
        } else if (StartsWith(arg, "-debug")) {
            state.flags |= kFlagDebug;
        } else if (StartsWith(arg, "-dma")) {
            state.flags |= kFlagDma;
        } else if (StartsWith(arg, "-exit_delay")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no 'seconds' specified with '-exit_delay'\n");
            options.exitDelaySeconds = ParseDecimal(text);
        } else if (StartsWith(arg, "-flags")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no 'bitmask' specified with '-flags'\n");
            ApplyFlagBits(ParseDecimal(text), state);
        } else if (StartsWith(arg, "-list")) {
            state.flags |= kFlagListOnly;
        } else if (StartsWith(arg, "-dev")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no 'devlist' specified with '-dev'\n");
            const SelectionOutcome selection = ParseSelectionText(text, state.drives, state.explicitSelection);
            if (selection == SelectionOutcome::NothingSelected)
                return {ParseOutcome::NothingSelected, kExitSuccess,
                        "\nNo drives were selected, so no firmware was downloaded/activated\n"};
            state.flags |= kFlagDeviceList;
        } else if (StartsWith(arg, "-log")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no log file 'lFile' was specified with '-log'\n");
            OpenLogAndWriteBanner(text);
        } else if (StartsWith(arg, "-model")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no model string file 'mFile' was specified with '-model'\n");
            state.flags |= kFlagModelMode;
            options.modelFile = text;
        } else if (StartsWith(arg, "-sas_mode")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no SAS mode value was specified with '-sas_mode'\n");
            options.sasMode = LowByte(ParseDecimal(text));
            state.flags |= kFlagSasModeGiven;
        } else if (StartsWith(arg, "-p=")) {
            // Consumes no further argument; whatever the process loads may read it.
            ::setenv(kDriverIndexVariable, arg + 3, 1);
        } else if (StartsWith(arg, "-sdsb=")) {
            state.sdsbPort = ParseDecimal(arg + 6);
        } else if (StartsWith(arg, "-cfg")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no configuration file 'cFile' was specified '-cfg'\n");
            options.configFile = text;
            state.flags |= kFlagConfigFileGiven;
        } else if (arg[0] != '-') {
            options.firmwareFile = arg;  // a later name replaces an earlier one
            state.flags |= kFlagFirmwareFile;
        } else if (StartsWith(arg, "-nvme_slot")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no NVMe slot value was specified with '-nvme_slot'\n");
            const std::uint8_t slot = LowByte(ParseDecimal(text));
            if (slot > kMaxNvmeSlot)
                return Failure(FormatText("ERROR: Firmware WAS NOT downloaded/activated - illegal NVMe slot value (%d) was specified with '-nvme_slot'\n", slot));
            options.nvmeSlot = slot;
            state.flags |= kFlagNvmeSlotGiven;
        } else if (StartsWith(arg, "-nvme_ca")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no NVMe commit action value was specified with '-nvme_ca'\n");
            const std::uint8_t action = LowByte(ParseDecimal(text));
            if (action > kMaxNvmeCommitAction)
                return Failure(FormatText("ERROR: Firmware WAS NOT downloaded/activated - illegal NVMe commit action value (%d) was specified with '-nvme_ca'\n", action));
            options.nvmeCommitAction = action;
            state.flags |= kFlagNvmeCommitActionGiven;
        } else if (StartsWith(arg, "-retries")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no retries value was specified with '-retries'\n");
            const std::int32_t retries = ParseDecimal(text);
            if (retries < 1 || retries > static_cast<std::int32_t>(kMaxRetries))
                return Failure(FormatText("ERROR: Firmware WAS NOT downloaded/activated - retries must be between 1 and %u", kMaxRetries));
            options.retries = static_cast<std::uint32_t>(retries);
        } else if (StartsWith(arg, "-report")) {
            const char* text = value();
            if (text == nullptr)
                return Failure("ERROR: Firmware WAS NOT downloaded/activated - no report file 'rFile' was specified with '-report'\n");
            options.reportFile = text;  // a later name replaces an earlier one
        } else {
            return Failure(FormatText("ERROR: Invalid command line switch:\n%s\n", arg));
        }
    }
    return {ParseOutcome::Proceed, kExitSuccess, {}};
}

}  // namespace firmstep
