#include "scan/report.h"

#include <cstdio>

#include "common/string_table.h"
#include "common/text16.h"

namespace {

// Puts `number` (already formatted) in place of the one "%01.2f" of `format`.
std::u16string FormatWithFixed(std::u16string_view format, double value) {
    const std::u16string_view placeholder = u"%01.2f";
    const std::size_t at = format.find(placeholder);
    if (at == std::u16string_view::npos) return std::u16string(format);
    std::u16string out(format.substr(0, at));
    out += FormatFixed2(value);
    out += format.substr(at + placeholder.size());
    return out;
}

std::u16string FormatCount(StringId id, uint32_t value) { return Format16(LoadText(id), {value}); }

double Throughput(double kilobytes, double milliseconds) {
    return milliseconds < 1.0 ? 0.0 : kilobytes / (milliseconds * 0.001);
}

}  // namespace

std::u16string FormatFixed2(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%01.2f", value);
    return AsciiToUtf16(buffer);
}

std::array<std::u16string, 16> FormatReportLines(const ScanStatistics& s) {
    return {
        LoadText(IDS_REPORT_HEADER),
        FormatCount(IDS_REPORT_DIRECTORIES, s.directories),
        FormatCount(IDS_REPORT_FILES, s.files),
        FormatCount(IDS_REPORT_STREAMS, s.streams),
        FormatCount(IDS_REPORT_PROCESSES, s.processes),
        FormatCount(IDS_REPORT_MODULES, s.modules),
        FormatCount(IDS_REPORT_INFECTED_FILES, s.infectedFiles),
        FormatCount(IDS_REPORT_INFECTED_PROCESSES, s.infectedProcesses),
        FormatCount(IDS_REPORT_REMOVED_FILES, s.removedFiles),
        FormatCount(IDS_REPORT_RENAMED_FILES, s.renamedFiles),
        FormatCount(IDS_REPORT_TERMINATED_PROCESSES, s.terminatedProcesses),
        FormatWithFixed(LoadText(IDS_REPORT_MEMORY_TIME), s.memoryScanMs * 0.001),
        FormatWithFixed(LoadText(IDS_REPORT_MEMORY_THROUGHPUT), Throughput(s.memoryKB, s.memoryScanMs)),
        FormatWithFixed(LoadText(IDS_REPORT_FILE_TIME), s.fileScanMs * 0.001),
        FormatWithFixed(LoadText(IDS_REPORT_FILE_THROUGHPUT), Throughput(s.fileKB, s.fileScanMs)),
        LoadText(IDS_REPORT_THANKS),
    };
}

std::u16string ResultText(int32_t code, bool scanOnly) {
    if (scanOnly && code == kScanMalwareRemoved) return LoadText(IDS_RESULT_MALWARE_FOUND);
    static const struct {
        int32_t code;
        StringId text;
    } kTable[] = {
        {kScanMemoryScannerFailed, IDS_RESULT_MEMORY_SCANNER_INIT},
        {kScanNoDrives, IDS_RESULT_NO_DRIVES},
        {kScanInvalidHandle, IDS_RESULT_INVALID_HANDLE},
        {kScanAborted, IDS_RESULT_ABORTED},
        {kScanNoProcesses, IDS_RESULT_NO_PROCESSES},
        {kScanSnapshotFailed, IDS_RESULT_SNAPSHOT_ERROR},
        {kScanNoRights, IDS_RESULT_INSUFFICIENT_RIGHTS},
        {kScanInvalidVersion, IDS_RESULT_INVALID_WINDOWS},
        {kScanVersionQueryFailed, IDS_RESULT_VERSION_QUERY},
        {kScanSynchronizationError, IDS_RESULT_SYNC_ERROR},
        {kScanInvalidArgument, IDS_RESULT_INVALID_ARGUMENT},
        {kScanMalwareRemoved, IDS_RESULT_MALWARE_REMOVED},
    };
    for (const auto& entry : kTable) {
        if (entry.code == code) return LoadText(entry.text);
    }
    return {};
}

std::u16string VersionTextFromResource(std::u16string_view fileVersion) {
    std::u16string out;
    for (std::size_t i = 0; i < fileVersion.size(); ++i) {
        if (fileVersion[i] == u',' && i + 1 < fileVersion.size() && fileVersion[i + 1] == u' ') {
            out += u'.';
            ++i;
        } else {
            out += fileVersion[i];
        }
    }
    return out;
}

std::u16string BuildDateText(std::string_view compilerDate) {
    static const struct {
        const char16_t* english;
        StringId text;
    } kMonths[] = {
        {u"Jan", IDS_MONTH_JAN}, {u"Feb", IDS_MONTH_FEB}, {u"Mar", IDS_MONTH_MAR}, {u"Apr", IDS_MONTH_APR},
        {u"May", IDS_MONTH_MAY}, {u"Jun", IDS_MONTH_JUN}, {u"Jul", IDS_MONTH_JUL}, {u"Aug", IDS_MONTH_AUG},
        {u"Sep", IDS_MONTH_SEP}, {u"Oct", IDS_MONTH_OCT}, {u"Nov", IDS_MONTH_NOV}, {u"Dec", IDS_MONTH_DEC},
    };
    std::u16string date = AsciiToUtf16(compilerDate);
    for (const auto& month : kMonths) {
        const std::size_t at = date.find(month.english);
        if (at != std::u16string::npos) {
            date.replace(at, 3, LoadText(month.text));
            break;
        }
    }
    return date;
}

std::u16string TimeStampText(const LocalTime& t) {
    return Format16(u"[%d/%d/%d %d:%d:%d]\r\n", {t.day, t.month, t.year, t.hour, t.minute, t.second});
}

std::u16string LogText(bool append, const LocalTime& time, std::u16string_view paneText) {
    std::u16string out;
    if (append) out = std::u16string(75, u'-') + u"\r\n\r\n";
    out += TimeStampText(time);
    for (const char16_t c : paneText) {
        out += c;
        if (c == u'\r') out += u'\n';
    }
    return out;
}

std::string Utf16LeBytes(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::u16string HostLineText(std::u16string_view hostName, const uint8_t (&a)[4]) {
    return LoadText(IDS_LINE_BREAK) + Format16(LoadText(IDS_HOST_LINE), {hostName, a[0], a[1], a[2], a[3]}) +
           LoadText(IDS_LINE_BREAK);
}

int32_t ProgramExitCode(const RunOutcome& outcome) {
    if (outcome.scanStarted && outcome.lastScanResult < 0) return outcome.lastScanResult;
    if (!outcome.administrator) return -2;
    if (outcome.malwareFound) return 1;
    return 0;
}
