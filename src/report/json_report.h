// The report a machine reads: one UTF-8 JSON document per program run, of the
// shape docs/report.schema.json describes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/utc_time.h"
#include "report/detection_journal.h"
#include "scan/scan_types.h"

// `text` as a JSON string literal in UTF-8 (quotes included). A unit of a
// broken surrogate pair is kept as its \u escape.
std::string JsonString(std::u16string_view text);

struct WindowsFacts {
    uint32_t major = 0, minor = 0, build = 0;
    bool ntFamily = true;
    std::u16string servicePack;
    int systemBits = 32;   // 64 on 64-bit Windows
    int programBits = 32;  // this program's
};

// Everything the report says of the run besides the detections.
struct RunFacts {
    std::u16string programVersion;
    std::u16string hostName;
    UtcTime start, end;
    std::u16string commandLine;
    WindowsFacts windows;
    bool administrator = false;
    bool scanOnly = false;
    bool scanStarted = false;
    int32_t resultCode = 0;
    std::u16string resultText;
    int32_t exitCode = 0;
    ScanStatistics counters;
    bool rebootRequired = false;
};

// The whole document, ending with a line break.
std::string ReportJson(const RunFacts& run, const CDetectionJournal& journal);

// The detection records alone, as the array the report holds.
std::string DetectionsJson(const std::vector<DetectionRecord>& detections, std::string_view indent);
