// Repeating a download or activation that failed: each operation gets up to the
// attempt count of tries, the later ones announced and spaced 2 s apart.
#pragma once

#include <cstdint>
#include <functional>

namespace firmstep {

inline constexpr std::uint32_t kRetryPauseMilliseconds = 2000;

// Calls `attempt` until it returns true or `attempts` tries have been made
// (at least one). Before every try after the first it waits the retry pause and
// prints "  Retry attempt %u\n" with the number of the retry. Returns whether a
// try succeeded; the error record keeps the reason of the last failed try.
bool RunAttemptSeries(std::uint32_t attempts, const std::function<bool()>& attempt);

// RunAttemptSeries, then `successLine` printed when a try succeeded.
bool RunReportedSeries(std::uint32_t attempts, const char* successLine, const std::function<bool()>& attempt);

// The download and activation of an ATA or SCSI drive: the download when
// there is an image, then the activation when `activate` is set, each announced,
// tried in a series and reported on success. Returns false at the first
// operation whose series fails (the error record says why).
bool RunDownloadAndActivate(std::uint32_t attempts, bool hasImage, std::uint32_t transferLength, bool activate,
                            const std::function<bool()>& download, const std::function<bool()>& activation);

}  // namespace firmstep
