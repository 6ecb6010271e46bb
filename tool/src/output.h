// The tool's one output path: the console and, after "-log", the log file.
// Every line the tool writes goes through these functions.
#pragma once

#if defined(__GNUC__)
#define FIRMSTEP_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FIRMSTEP_PRINTF(fmt, args)
#endif

namespace firmstep {

// Formats to standard output and, when the log file is open, formats the same
// again into the log file.
void ToolPrint(const char* format, ...) FIRMSTEP_PRINTF(1, 2);

// Formats into the log file when it is open; does nothing otherwise.
void ToolLogPrint(const char* format, ...) FIRMSTEP_PRINTF(1, 2);

// Flushes standard output (and the log file) after prompts, progress and errors.
void ToolFlush();

// Opens the log file for appending unless one is already open. Returns false
// only when no log file is open afterwards.
bool OpenLogFile(const char* path);
bool IsLogFileOpen();
// Closes the log file at exit; a no-op when none is open.
void CloseLogFile();

}  // namespace firmstep
