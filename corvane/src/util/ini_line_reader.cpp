#include "ini_line_reader.h"

#include <climits>

namespace corvane {

bool IniLineReader::next()
{
    line_.clear();
    bool sawAnything = false;
    bool endedByLineFeed = false;
    bool cut = false;
    int c;
    while ((c = std::getc(file_)) != EOF) {
        sawAnything = true;
        if (c == '\n') {
            endedByLineFeed = true;
            break;
        }
        if (line_.size() < kMaxLineLength) {
            line_.push_back(static_cast<char>(c));
        } else {
            cut = true;
        }
    }
    if (!sawAnything || failed()) return false;
    // A kept trailing CR stood right before the line feed only if nothing was cut.
    if (endedByLineFeed && !cut && !line_.empty() && line_.back() == '\r') line_.pop_back();
    const std::size_t nul = line_.find('\0');
    if (nul != std::string::npos) line_.resize(nul);
    if (number_ < INT_MAX) ++number_;
    return true;
}

}  // namespace corvane
