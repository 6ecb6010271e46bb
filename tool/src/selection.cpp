#include "selection.h"

#include "output.h"

#include <cstdint>
#include <cstring>

namespace firmstep {
namespace {

// A decimal number being read; it stops growing once it is far beyond any
// drive number, so long digit runs cannot wrap round to a valid one.
struct ScannedNumber {
    std::uint32_t value = 0;
    std::uint32_t digits = 0;

    void AddDigit(char c)
    {
        constexpr std::uint32_t kCeiling = 100000000;  // well above every drive number
        if (value < kCeiling)
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        ++digits;
    }
    void Clear() { *this = ScannedNumber{}; }
};

void Mark(DriveTable& table, std::uint32_t number)
{
    if (number < kDriveTableCapacity)
        table.rows[number].marks |= kMarkSelected;
}

class SelectionScanner {
public:
    explicit SelectionScanner(DriveTable& table) : table_(table) {}

    void Scan(const char* text)
    {
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p >= '0' && *p <= '9')
                current_.AddDigit(*p);
            else if (*p == '-')
                StartRange();
            else
                EndNumber();
        }
        EndNumber();
    }

private:
    void StartRange()
    {
        rangePending_ = true;
        if (current_.digits > 0 && current_.value < kDriveTableCapacity) {
            rangeStart_ = current_;
            current_.Clear();
        } else {
            rangeStart_.Clear();  // the number, if any, runs on as the end
        }
    }

    void EndNumber()
    {
        if (current_.digits == 0)
            return;
        if (rangePending_) {
            if (rangeStart_.digits > 0 && rangeStart_.value <= current_.value) {
                for (std::uint32_t n = rangeStart_.value; n <= current_.value && n < kDriveTableCapacity; ++n)
                    Mark(table_, n);
            }
            rangePending_ = false;
        } else {
            Mark(table_, current_.value);
        }
        current_.Clear();
    }

    DriveTable& table_;
    ScannedNumber current_;
    ScannedNumber rangeStart_;
    bool rangePending_ = false;
};

void PrintPrompt(bool activate)
{
    if (activate) {
        ToolPrint("Are you certain that you want to activate firmware on one or more of the\n");
        ToolPrint("drives listed above?  Enter your drive selection(s) as described below.\n\n");
        ToolPrint("  'N', 'n' or <ENTER> = DO NOT activate firmware\n\n");
        ToolPrint("  'ALL' or 'all' = Activate firmware on all drives listed above\n\n");
    } else {
        ToolPrint("***** WARNING ***** WARNING ***** WARNING ***** WARNING ***** WARNING *****\n");
        ToolPrint("  Be aware that downloading firmware to a drive is a risky operation which\n");
        ToolPrint("  could result in a drive being unusable following the download operation.\n");
        ToolPrint("  Veltrane STRONGLY recommends that you back up the data on your\n");
        ToolPrint("  drives before you execute a firmware download operation.\n\n");
        ToolPrint("  A firmware download operation typically completes within a few seconds\n");
        ToolPrint("  per drive; however, it could require a few minutes per drive, depending\n");
        ToolPrint("  upon the drive model and its bus type.\n");
        ToolPrint("***** WARNING ***** WARNING ***** WARNING ***** WARNING ***** WARNING *****\n\n");
        ToolPrint("Are you certain that you want to download firmware to one or more of the\n");
        ToolPrint("drives listed above?  Enter your drive selection(s) as described below.\n\n");
        ToolPrint("  'N', 'n' or <ENTER> = DO NOT download firmware\n\n");
        ToolPrint("  'ALL' or 'all' = Download firmware to all drives listed above\n\n");
    }
    ToolPrint("  Specify a comma-separated list of drive numbers; the list may include a\n");
    ToolPrint("  dash-separated range of drive numbers (e.g., 4,6,8,12-15)\n\n");
    ToolPrint("Enter your drive selection(s):  ");
}

}  // namespace

SelectionOutcome ParseSelectionText(const char* text, DriveTable& table, bool& explicitSelection)
{
    if (text == nullptr || text[0] == '\0' || text[0] == 'n' || text[0] == 'N' || text[0] == '\r' ||
        text[0] == '\n')
        return SelectionOutcome::NothingSelected;
    if (std::strncmp(text, "all", 3) == 0 || std::strncmp(text, "ALL", 3) == 0)
        return SelectionOutcome::Proceed;
    explicitSelection = true;
    SelectionScanner(table).Scan(text);
    return SelectionOutcome::Proceed;
}

SelectionOutcome PromptForSelection(RunState& state, std::FILE* input)
{
    PrintPrompt(state.Has(kFlagActivate));
    ToolFlush();
    char line[kSelectionLineMax + 1] = {};
    const char* text = std::fgets(line, sizeof line, input);
    return ParseSelectionText(text, state.drives, state.explicitSelection);
}

}  // namespace firmstep
