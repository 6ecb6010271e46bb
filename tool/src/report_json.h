// The report file's document: a run's record as JSON, in the form that
// tool/report.schema.json describes.
#pragma once

#include "run_report.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace firmstep {

// Raised whenever the document changes in a way a reader must know about.
inline constexpr int kReportVersion = 1;

// What the end of a run adds to its record.
struct RunEnd {
    std::string frameworkVersion;
    std::string finished;       // UTC, ISO 8601
    std::uint32_t flags = 0;    // run flags (RunFlag)
    int successes = 0;
    int failures = 0;
    int exitStatus = 0;
};

nlohmann::ordered_json ReportDocument(const RunReport& report, const RunEnd& end);

// The document as text. Drive and framework texts are not guaranteed to be
// UTF-8: bytes that are not become U+FFFD rather than failing the report.
std::string ReportText(const nlohmann::ordered_json& document);

// The host the run was on: its name and operating system.
nlohmann::ordered_json HostDocument();

const char* OutcomeName(RunOutcome outcome);
const char* StepKindName(StepKind kind);

}  // namespace firmstep
