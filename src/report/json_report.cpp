#include "report/json_report.h"

#include <cstdio>

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendEscape(std::string& out, uint32_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
    out += buffer;
}

std::string Number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

const char* Bool(bool value) { return value ? "true" : "false"; }

// Builds one JSON object line by line, with a fixed indent.
class CObject {
public:
    explicit CObject(std::string indent) : indent_(std::move(indent)) {}
    CObject& Raw(std::string_view key, std::string_view value) {
        text_ += first_ ? "{\n" : ",\n";
        first_ = false;
        text_ += indent_ + "  \"" + std::string(key) + "\": " + std::string(value);
        return *this;
    }
    CObject& Text(std::string_view key, std::u16string_view value) { return Raw(key, JsonString(value)); }
    CObject& Int(std::string_view key, long long value) { return Raw(key, std::to_string(value)); }
    std::string Close() { return first_ ? "{}" : text_ + "\n" + indent_ + "}"; }

private:
    std::string indent_;
    std::string text_;
    bool first_ = true;
};

template <typename T, typename F>
std::string Array(const std::vector<T>& items, const std::string& indent, F item) {
    if (items.empty()) return "[]";
    std::string text = "[\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += indent + "  " + item(items[i], indent + "  ");
        text += i + 1 < items.size() ? ",\n" : "\n";
    }
    return text + indent + "]";
}

std::string QuarantineJson(const QuarantineEntry& q, const std::string& indent) {
    return CObject(indent)
        .Text("id", q.id)
        .Text("originalPath", q.originalPath)
        .Text("time", q.time)
        .Text("action", q.action)
        .Raw("sha256", JsonString(std::u16string(q.sha256.begin(), q.sha256.end())))
        .Int("size", static_cast<long long>(q.size))
        .Close();
}

std::string ActionJson(const ActionRecord& a, const std::string& indent) {
    CObject o(indent);
    o.Raw("action", std::string("\"") + ActionKindName(a.kind) + "\"");
    o.Raw("outcome", std::string("\"") + ActionOutcomeName(a.outcome) + "\"");
    if (!a.target.empty()) o.Text("target", a.target);
    if (!a.destination.empty()) o.Text("destination", a.destination);
    if (a.kind == ActionKind::Terminate) o.Int("processId", a.processId);
    if (a.quarantine) o.Raw("quarantine", QuarantineJson(*a.quarantine, indent + "  "));
    if (a.quarantineMissing) o.Raw("quarantineMissing", "true");
    return o.Close();
}

std::string DetectionJson(const DetectionRecord& d, const std::string& indent) {
    CObject o(indent);
    o.Raw("source", d.source == DetectionSource::Memory ? "\"memory\"" : "\"file\"");
    o.Text("family", d.family);
    o.Text("variant", d.variant);
    if (!d.path.empty()) o.Text("path", d.path);
    if (d.source == DetectionSource::Memory) {
        o.Raw("processes", Array(d.processes, indent + "  ", [](const DetectedProcess& p, const std::string& in) {
                  return CObject(in).Text("path", p.path).Int("id", p.id).Close();
              }));
    }
    o.Raw("actions", Array(d.actions, indent + "  ", ActionJson));
    return o.Close();
}

}  // namespace

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = text[i];
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20) {
            AppendEscape(out, c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendEscape(out, c);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out + "\"";
}

std::string DetectionsJson(const std::vector<DetectionRecord>& detections, std::string_view indent) {
    return Array(detections, std::string(indent), DetectionJson);
}

std::string ReportJson(const RunFacts& run, const CDetectionJournal& journal) {
    const ScanStatistics& s = run.counters;
    const std::string counters = CObject("  ")
                                     .Int("directories", s.directories)
                                     .Int("files", s.files)
                                     .Int("streams", s.streams)
                                     .Int("processes", s.processes)
                                     .Int("unreadableProcesses", s.unreadableProcesses)
                                     .Int("modules", s.modules)
                                     .Int("infectedFiles", s.infectedFiles)
                                     .Int("infectedProcesses", s.infectedProcesses)
                                     .Int("removedFiles", s.removedFiles)
                                     .Int("renamedFiles", s.renamedFiles)
                                     .Int("terminatedProcesses", s.terminatedProcesses)
                                     .Int("registryChanges", s.registryChanges)
                                     .Int("hostsChanges", s.hostsChanges)
                                     .Int("iniChanges", s.iniChanges)
                                     .Raw("memoryScanSeconds", Number(s.memoryScanMs * 0.001))
                                     .Raw("fileScanSeconds", Number(s.fileScanMs * 0.001))
                                     .Raw("memoryKB", Number(s.memoryKB))
                                     .Raw("fileKB", Number(s.fileKB))
                                     .Close();
    const WindowsFacts& w = run.windows;
    const std::string windows = CObject("  ")
                                    .Raw("version", "\"" + std::to_string(w.major) + "." + std::to_string(w.minor) +
                                                        "." + std::to_string(w.build) + "\"")
                                    .Raw("family", w.ntFamily ? "\"NT\"" : "\"9x\"")
                                    .Text("servicePack", w.servicePack)
                                    .Int("bits", w.systemBits)
                                    .Int("programBits", w.programBits)
                                    .Close();
    const std::string program = CObject("  ")
                                    .Raw("name", "\"Tesmora Removal Tool\"")
                                    .Text("version", run.programVersion)
                                    .Close();
    std::string other = "[]";
    if (!journal.Unattributed().empty()) other = Array(journal.Unattributed(), "  ", ActionJson);
    return CObject("")
               .Raw("format", "\"tesmora-report/1\"")
               .Raw("program", program)
               .Text("host", run.hostName)
               .Raw("startTime", "\"" + IsoUtcText(run.start) + "\"")
               .Raw("endTime", "\"" + IsoUtcText(run.end) + "\"")
               .Text("commandLine", run.commandLine)
               .Raw("windows", windows)
               .Raw("administrator", Bool(run.administrator))
               .Raw("scanOnly", Bool(run.scanOnly))
               .Raw("scanStarted", Bool(run.scanStarted))
               .Raw("result", CObject("  ").Int("code", run.resultCode).Text("text", run.resultText).Close())
               .Int("exitCode", run.exitCode)
               .Raw("counters", counters)
               .Raw("rebootRequired", Bool(run.rebootRequired))
               .Raw("detections", DetectionsJson(journal.Detections(), "  "))
               .Raw("otherActions", other)
               .Close() +
           "\n";
}
