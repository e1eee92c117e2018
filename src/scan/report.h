// Texts of the scan report, the banner's version line and the log file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/scan_types.h"

// The sixteen report lines, formatted from the counters.
std::array<std::u16string, 16> FormatReportLines(const ScanStatistics& statistics);

// "%01.2f" of `value`.
std::u16string FormatFixed2(double value);

// The result text printed for a scan's code, or empty when the code has none.
// A scan that only detected says so instead of "removed".
std::u16string ResultText(int32_t code, bool scanOnly = false);

// The version resource's "3, 0, 1, 16" as "3.0.1.16".
std::u16string VersionTextFromResource(std::u16string_view fileVersion);

// The compiler's build date ("Sep 20 2006") with its English month replaced
// by the month text of the string table.
std::u16string BuildDateText(std::string_view compilerDate);

struct LocalTime {
    int year, month, day, hour, minute, second;
};

// "[day/month/year hour:minute:second]\r\n", nothing padded.
std::u16string TimeStampText(const LocalTime& time);

// The text one program run adds to the log: the separator when appending,
// the time stamp, then the pane's text with each paragraph break ("\r", as
// the pane keeps it) written as "\r\n".
std::u16string LogText(bool append, const LocalTime& time, std::u16string_view paneText);

// UTF-16LE bytes without byte-order mark.
std::string Utf16LeBytes(std::u16string_view text);

// The host line with its surrounding line breaks.
std::u16string HostLineText(std::u16string_view hostName, const uint8_t (&address)[4]);

// What the program's exit code tells an unattended caller.
struct RunOutcome {
    bool administrator = true;
    bool scanStarted = false;
    int32_t lastScanResult = 0;  // code of the last scan of the run
    bool malwareFound = false;   // any scan of the run found an infection
};
// < 0 error or stopped scan, -2 not an administrator, 1 malware found, 0 clean.
int32_t ProgramExitCode(const RunOutcome& outcome);
