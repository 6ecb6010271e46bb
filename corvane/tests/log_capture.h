// Collects the framework's log lines while it is in scope.
#pragma once

#include <corvane.h>

#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace corvane_test {

struct LogLine {
    int level;
    std::string message;
    bool operator==(const LogLine&) const = default;
    friend void PrintTo(const LogLine& line, std::ostream* out) { *out << line.level << ": " << line.message; }
};

class LogCapture {
public:
    LogCapture() { CvLogEventManager_AddListener(&listener_); }
    ~LogCapture() { CvLogEventManager_RemoveListener(&listener_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> result;
        for (const auto& line : lines()) result.push_back(line.message);
        return result;
    }

private:
    static void Record(void* self, int level, const char* message)
    {
        auto* capture = static_cast<LogCapture*>(self);
        std::lock_guard lock(capture->mutex_);
        capture->lines_.push_back({level, message});
    }

    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
    CvLogListener listener_{this, &LogCapture::Record};
};

}  // namespace corvane_test
