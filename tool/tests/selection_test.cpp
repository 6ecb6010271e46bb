#include "fake_drives.h"
#include "run_state.h"
#include "selection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace firmstep {
namespace {

struct SelectionCase {
    const char* text;
    SelectionOutcome outcome;
    bool explicitSelection;
    std::vector<std::uint32_t> marked;
};

std::vector<std::uint32_t> MarkedRows(const DriveTable& table)
{
    std::vector<std::uint32_t> marked;
    for (std::uint32_t i = 0; i < kDriveTableCapacity; ++i)
        if ((table.rows[i].marks & kMarkSelected) != 0)
            marked.push_back(i);
    return marked;
}

TEST(SelectionText, FormsAndNumberScanner)
{
    const SelectionOutcome proceed = SelectionOutcome::Proceed;
    const SelectionOutcome nothing = SelectionOutcome::NothingSelected;
    const std::vector<SelectionCase> cases = {
        {nullptr, nothing, false, {}},
        {"", nothing, false, {}},
        {"n", nothing, false, {}},
        {"No thanks, 1", nothing, false, {}},
        {"N", nothing, false, {}},
        {"\n", nothing, false, {}},
        {"\r\n", nothing, false, {}},
        {"all", proceed, false, {}},
        {"ALL", proceed, false, {}},
        {"allx,3", proceed, false, {}},
        {"All", proceed, true, {}},       // not the all form
        {"aLL", proceed, true, {}},
        {"4,6,8,12-15", proceed, true, {4, 6, 8, 12, 13, 14, 15}},
        {"15-12", proceed, true, {}},
        {"3-,5", proceed, true, {3, 4, 5}},
        {"1500,2", proceed, true, {2}},
        {"1020-1030", proceed, true, {1020, 1021, 1022, 1023}},
        {"1023,1024", proceed, true, {1023}},
        {"5x7", proceed, true, {5, 7}},
        {"5 7\n", proceed, true, {5, 7}},
        {" 2", proceed, true, {2}},
        {"-5", proceed, true, {}},        // a range without a start marks nothing
        {"2000-5", proceed, true, {}},    // the start is no drive number
        {"15-12,3", proceed, true, {3}},  // a failed range is used up
        {"0", proceed, true, {0}},
        {"007", proceed, true, {7}},
        {"4294967298", proceed, true, {}},  // long digit runs do not wrap round to 2
        {"x", proceed, true, {}},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(null)" : c.text);
        auto table = std::make_unique<DriveTable>();
        bool explicitSelection = false;
        EXPECT_EQ(ParseSelectionText(c.text, *table, explicitSelection), c.outcome);
        EXPECT_EQ(explicitSelection, c.explicitSelection);
        EXPECT_EQ(MarkedRows(*table), c.marked);
    }
}

TEST(SelectionText, MarksAccumulateAndKeepTypeMarks)
{
    auto table = std::make_unique<DriveTable>();
    table->rows[3].marks = kMarkScsi;
    bool explicitSelection = false;
    ParseSelectionText("1", *table, explicitSelection);
    ParseSelectionText("3", *table, explicitSelection);
    EXPECT_EQ(MarkedRows(*table), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(table->rows[3].marks, kMarkScsi | kMarkSelected);
    // The all form neither clears marks nor the explicit-selection mark.
    EXPECT_EQ(ParseSelectionText("all", *table, explicitSelection), SelectionOutcome::Proceed);
    EXPECT_TRUE(explicitSelection);
    EXPECT_EQ(MarkedRows(*table), (std::vector<std::uint32_t>{1, 3}));
}

// Runs the prompt with `answer` as standard input; returns what it printed.
struct PromptRun {
    SelectionOutcome outcome;
    std::string printed;
};

PromptRun RunPrompt(RunState& state, const std::string& answer)
{
    test::OutputCapture capture;
    std::FILE* input = std::tmpfile();
    std::fputs(answer.c_str(), input);
    std::rewind(input);
    const SelectionOutcome outcome = PromptForSelection(state, input);
    std::fclose(input);
    return {outcome, capture.Text()};
}

TEST(SelectionPrompt, AnswersFromInput)
{
    auto state = std::make_unique<RunState>();
    EXPECT_EQ(RunPrompt(*state, "").outcome, SelectionOutcome::NothingSelected);  // end of input
    EXPECT_EQ(RunPrompt(*state, "\n").outcome, SelectionOutcome::NothingSelected);
    EXPECT_EQ(RunPrompt(*state, "n\n").outcome, SelectionOutcome::NothingSelected);
    EXPECT_EQ(RunPrompt(*state, "all\n").outcome, SelectionOutcome::Proceed);
    EXPECT_FALSE(state->explicitSelection);
    EXPECT_EQ(RunPrompt(*state, "5x7\n").outcome, SelectionOutcome::Proceed);
    EXPECT_TRUE(state->explicitSelection);
    EXPECT_EQ(MarkedRows(state->drives), (std::vector<std::uint32_t>{5, 7}));
}

TEST(SelectionPrompt, ReadsAtMost512Characters)
{
    auto state = std::make_unique<RunState>();
    // 510 padding characters, then "1,2": only "1" fits in the line read.
    EXPECT_EQ(RunPrompt(*state, std::string(510, ' ') + "1,2\n").outcome, SelectionOutcome::Proceed);
    EXPECT_EQ(MarkedRows(state->drives), (std::vector<std::uint32_t>{1}));
}

TEST(SelectionPrompt, TextsFollowTheOperation)
{
    auto state = std::make_unique<RunState>();
    EXPECT_EQ(RunPrompt(*state, "n\n").printed.rfind(
                  "***** WARNING ***** WARNING ***** WARNING ***** WARNING ***** WARNING *****\n", 0),
              0u);
    state->flags = kFlagActivate;
    const std::string activate = RunPrompt(*state, "n\n").printed;
    EXPECT_EQ(activate,
              "Are you certain that you want to activate firmware on one or more of the\n"
              "drives listed above?  Enter your drive selection(s) as described below.\n\n"
              "  'N', 'n' or <ENTER> = DO NOT activate firmware\n\n"
              "  'ALL' or 'all' = Activate firmware on all drives listed above\n\n"
              "  Specify a comma-separated list of drive numbers; the list may include a\n"
              "  dash-separated range of drive numbers (e.g., 4,6,8,12-15)\n\n"
              "Enter your drive selection(s):  ");
}

}  // namespace
}  // namespace firmstep
