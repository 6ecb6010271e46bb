// The start-up banner and the help text.
#pragma once

namespace firmstep {

inline constexpr const char* kToolName = "firmstep";
inline constexpr const char* kToolVersion = "1.7.0.0";

// The banner to the console (and the log file when it is open).
void PrintBanner();
// The same banner into the log file only ("-log").
void LogBanner();
void PrintHelp();

}  // namespace firmstep
