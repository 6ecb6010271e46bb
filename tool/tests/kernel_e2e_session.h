// A run of the built firmstep on a pseudo-terminal, so that a test can read
// each line as the program writes it (standard output is line-buffered on a
// terminal) and answer its prompts at the moment it chooses.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace firmstep::test {

class TerminalSession {
public:
    // Starts the program in `directory` with these variables added to the environment.
    TerminalSession(const std::vector<std::string>& args, const std::filesystem::path& directory,
                    const Environment& environment);
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Reads until the output so far contains `text`; false when the program
    // ended first or wrote nothing for 60 seconds (a test failure, not a wait).
    bool waitFor(const std::string& text);
    // Types a line on the program's standard input.
    void type(const std::string& line);
    // Reads to the end and waits for the program to exit.
    ProgramResult finish();

    const std::string& output() const { return output_; }

private:
    // Appends what is there to read; false at the end of the output or on silence.
    bool readMore();

    int master_ = -1;
    pid_t child_ = -1;
    std::string output_;
    bool silent_ = false;  // the last read gave up on silence
};

}  // namespace firmstep::test
