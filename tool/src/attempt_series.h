// Repeating a download or activation that failed: each operation gets up to the
// attempt count of tries, the later ones announced and spaced 2 s apart.
#pragma once

#include "run_report.h"

#include <cstdint>
#include <functional>

namespace firmstep {

inline constexpr std::uint32_t kRetryPauseMilliseconds = 2000;

// Calls `attempt` until it returns true or `attempts` tries have been made
// (at least one). Before every try after the first it waits the retry pause and
// prints "  Retry attempt %u\n" with the number of the retry. Returns whether a
// try succeeded; the error record keeps the reason of the last failed try.
// `made`, when given, receives the number of tries made.
bool RunAttemptSeries(std::uint32_t attempts, const std::function<bool()>& attempt, std::uint32_t* made = nullptr);

// RunAttemptSeries, then `successLine` printed when a try succeeded; the
// series is kept in `log` as a step of `kind`.
bool RunReportedSeries(std::uint32_t attempts, const char* successLine, const std::function<bool()>& attempt,
                       StepKind kind, const StepLog& log);

// The download and activation of an ATA or SCSI drive: the download when
// there is an image, then the activation when `activate` is set, each announced,
// tried in a series and reported on success. Returns false at the first
// operation whose series fails (the error record says why). Each series is
// kept in `log`.
bool RunDownloadAndActivate(std::uint32_t attempts, bool hasImage, std::uint32_t transferLength, bool activate,
                            const std::function<bool()>& download, const std::function<bool()>& activation,
                            const StepLog& log);

}  // namespace firmstep
