// Reads an INI file line by line for the parser.
//
// A line is everything up to a line feed (or the end of the file); a carriage
// return right before the line feed belongs to the line end. Only the first
// 1023 characters of a line are kept: the rest of a longer line is skipped, so
// an overlong line still counts as one line and its tail can never be taken for
// a line of its own. A NUL byte ends a line's text (what follows it on that line
// is ignored), as the text is handled as a C string from then on.
#pragma once

#include <cstdio>
#include <string>

namespace corvane {

class IniLineReader {
public:
    static constexpr std::size_t kMaxLineLength = 1023;

    explicit IniLineReader(std::FILE* file) : file_(file) { line_.reserve(kMaxLineLength); }

    // False at the end of the file or on a read error (see failed()).
    bool next();
    // The current line's text, without its line end.
    const std::string& line() const { return line_; }
    // Number of the current line, counting from 1.
    int number() const { return number_; }
    bool failed() const { return std::ferror(file_) != 0; }

private:
    std::FILE* file_;
    std::string line_;
    int number_ = 0;
};

}  // namespace corvane
