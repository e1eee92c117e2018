// tesmora-sig scan: detection only. The product's detector table, index and
// PE region rules over files and folders; nothing is changed.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text16.h"
#include "removers/remover.h"
#include "report/json_report.h"
#include "scan/scan_controller.h"
#include "scanner/pe_scan.h"
#include "tools/commands.h"
#include "tools/file_walk.h"
#include "tools/tool_io.h"
#include "tools/tool_script.h"

namespace {

// The tool as the controller's host: the script given, no window.
class CToolHost : public CScanHost {
public:
    explicit CToolHost(std::u16string script) : script_(std::move(script)) { LoadDefaultFolders(folders_); }
    bool IsVersionQueryFailed() override { return false; }
    std::optional<std::u16string> LoadScriptText() override { return script_; }
    CFolderLookup& Folders() override { return folders_; }
    CDiagnosticSink& Diagnostics() override { return sink_; }
    void ShowError(std::u16string_view text, std::u16string_view) override {
        WriteErr("tesmora-sig scan: " + Utf16ToUtf8(text) + "\n");
    }
    bool QueryAdministrator() override { return false; }
    void PostScanResult(void*, ScanResultCode) override {}

private:
    std::u16string script_;
    CFixedFolders folders_;
    CStderrSink sink_;
};

class CNoOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view, const char16_t*, int) override {}
    void Print(std::u16string_view, int) override {}
    void SetStatusText(std::u16string_view, int) override {}
    void ScanFinished(ScanResultCode) override {}
};

struct ScanCounts {
    uint64_t files = 0, executables = 0, detected = 0, unreadable = 0;
    double kilobytes = 0;
};

class CScanRun {
public:
    CScanRun(const CSignatureIndex& index, bool json) : index_(index), json_(json) {}

    void ScanPath(const std::string& path) {
        if (WalkFiles(path, [this](const std::string& file) { ScanFile(file); }) == WalkResult::Missing) {
            WriteErr("tesmora-sig scan: cannot access '" + path + "'\n");
            ++counts.unreadable;
        }
    }

    ScanCounts counts;
    std::string report;
    std::vector<DetectionRecord> detections;  // --json

private:
    void ScanFile(const std::string& path) {
        ++counts.files;
        const std::unique_ptr<CReadableFile> file = OpenReadableFile(path);
        if (!file) {
            ++counts.unreadable;
            return;
        }
        const PeScanOutcome out = ScanPeFile(*file, index_, headers_, table_, buffer_, true, [] { return false; });
        counts.kilobytes += out.kilobytes;
        if (out.result == PeScanResult::NotExecutable) return;
        ++counts.executables;
        if (out.result != PeScanResult::Matched) return;
        ++counts.detected;
        const CMalwareRemover& r = *out.match->remover;
        if (json_) {
            DetectionRecord record;
            record.source = DetectionSource::File;
            record.family = r.GetFamilyName();
            record.variant = r.GetVariantName();
            record.path = Utf8ToUtf16(path);
            detections.push_back(std::move(record));
            return;
        }
        report += path + "\t" + Utf16ToUtf8(r.GetFamilyName()) + "." + Utf16ToUtf8(r.GetVariantName()) +
                  "\n";
        if (report.size() > 65536) Flush();
    }

public:
    void Flush() {
        WriteOut(report);
        report.clear();
    }

private:
    const CSignatureIndex& index_;
    const bool json_;
    ExecutableHeaders headers_;
    std::vector<uint8_t> table_, buffer_;
};

int Usage(const std::string& problem) {
    WriteErr("tesmora-sig scan: " + problem + "\nusage: tesmora-sig scan [--json] [--script SCRIPT] PATH...\n");
    return 2;
}

}  // namespace

int RunScanCommand(int argc, char** argv) {
    const char* scriptPath = nullptr;
    bool json = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--script") == 0) {
            if (i + 1 >= argc) return Usage("--script needs a file");
            scriptPath = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage(std::string("unknown option '") + argv[i] + "'");
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (paths.empty()) return Usage("no PATH given");
    const std::optional<std::u16string> text = LoadScriptText(scriptPath, "scan");
    if (!text) return 2;

    CToolHost host(*text);
    CNoOutput output;
    CScanController controller(output, host, TakeBuiltinRemovers(), {});
    if (controller.ConstructionResult() != 0) return 2;

    CScanRun run(controller.Index(), json);
    for (const std::string& p : paths) run.ScanPath(p);
    run.Flush();
    const ScanCounts& c = run.counts;
    if (json) {
        WriteOut("{\n  \"format\": \"tesmora-scan/1\",\n  \"files\": " + std::to_string(c.files) +
                 ",\n  \"executables\": " + std::to_string(c.executables) + ",\n  \"unreadable\": " +
                 std::to_string(c.unreadable) + ",\n  \"detections\": " + DetectionsJson(run.detections, "  ") +
                 "\n}\n");
    }
    WriteErr("tesmora-sig scan: " + std::to_string(c.files) + " files, " + std::to_string(c.executables) +
             " executables, " + std::to_string(static_cast<uint64_t>(c.kilobytes)) + " KB read, " +
             std::to_string(c.detected) + " detected" +
             (c.unreadable != 0 ? ", " + std::to_string(c.unreadable) + " unreadable" : std::string()) + "\n");
    // A path that could not be read is no clean result.
    if (c.detected != 0) return 1;
    return c.unreadable != 0 ? 2 : 0;
}
