// Framework log lines on the tool's output ("-debug").
#pragma once

namespace firmstep {

// "FATAL", "ERROR", "WARNING", "INFO", "DEBUG" for levels 0 to 4, else "???".
const char* LogLevelName(int level);

// Registers the tool's listener with the framework's log events; every line is
// printed as "<level name>: <message>". Called once, after CvInitialize. The
// listener is never removed: CvUninitialize ends it.
void RegisterFrameworkLogListener();

}  // namespace firmstep
