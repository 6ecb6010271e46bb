// Parsing of the firmstep command line into ToolOptions and the run state.
#pragma once

#include "run_state.h"
#include "tool_options.h"

#include <string>

namespace firmstep {

enum class ParseOutcome {
    Proceed,          // run on
    Help,             // print the help text, exit 0
    NothingSelected,  // "-dev" selected nothing: print the message, exit 0
    Error,            // print the message, exit 1
};

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Proceed;
    int exitStatus = 0;
    std::string message;  // the text to print for NothingSelected and Error
};

// Examines the arguments left to right. Switches are case sensitive and match
// by prefix; the first error ends parsing. Side effects happen as the switches
// are met: "-log" opens the log file and writes the banner into it, "-p=" sets
// VT_DRIVER_INDEX, "-dev" applies the device list. The options and state keep
// whatever was parsed before an error (the exit delay among them).
ParseResult ParseCommandLine(int argc, char* const argv[], ToolOptions& options, RunState& state);

}  // namespace firmstep
