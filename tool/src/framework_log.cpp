#include "framework_log.h"

#include "output.h"

#include <corvane.h>

namespace firmstep {
namespace {

extern "C" void PrintFrameworkLogLine(void* /*user*/, int level, const char* message)
{
    ToolPrint("%s: %s\n", LogLevelName(level), message != nullptr ? message : "");
}

// The framework keeps the pointer until it shuts down, so the record lives for
// the whole process.
CvLogListener g_listener = {nullptr, &PrintFrameworkLogLine};

}  // namespace

const char* LogLevelName(int level)
{
    static constexpr const char* kNames[] = {"FATAL", "ERROR", "WARNING", "INFO", "DEBUG"};
    if (level < 0 || level >= static_cast<int>(sizeof kNames / sizeof kNames[0]))
        return "???";
    return kNames[level];
}

void RegisterFrameworkLogListener()
{
    CvLogEventManager_AddListener(&g_listener);
}

}  // namespace firmstep
