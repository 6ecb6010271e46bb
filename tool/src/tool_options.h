// Options of one firmstep run, filled by the command-line parser and handed by
// value to the per-drive step.
#pragma once

#include <cstdint>

namespace firmstep {

inline constexpr std::uint32_t kDefaultRetries = 1;
inline constexpr std::uint32_t kMaxRetries = 100;
inline constexpr std::uint8_t kDefaultSasMode = 7;
inline constexpr std::uint8_t kMaxNvmeSlot = 7;
inline constexpr std::uint8_t kMaxNvmeCommitAction = 7;

struct ToolOptions {
    const char* firmwareFile = nullptr;     // points into the argument vector
    const char* modelFile = nullptr;        // "-model"
    const char* configFile = nullptr;       // "-cfg"; none means the default file
    std::int32_t requestedTransferLength = 0;  // "-cs" as given, even when rejected
    std::int32_t acceptedTransferLength = 0;   // 0 means none was accepted
    std::uint32_t retries = kDefaultRetries;   // attempts per operation
    std::uint8_t sasMode = kDefaultSasMode;
    std::uint8_t nvmeSlot = 0;
    std::uint8_t nvmeCommitAction = 0;
    std::int32_t exitDelaySeconds = 0;
    const char* reportFile = nullptr;       // "-report"; none means no report
};

}  // namespace firmstep
