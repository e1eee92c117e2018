// tesmora-sig scan: detection only. The product's detector table, index and
// PE region rules over files and folders; nothing is changed.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "common/text16.h"
#include "removers/remover.h"
#include "scan/scan_controller.h"
#include "scanner/pe_scan.h"
#include "tools/commands.h"
#include "tools/tool_io.h"
#include "tools/tool_script.h"

namespace fs = std::filesystem;

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

class CStreamFile : public CReadableFile {
public:
    explicit CStreamFile(const fs::path& path) : in_(path, std::ios::binary) {
        std::error_code ec;
        size_ = fs::file_size(path, ec);
        if (ec) size_ = 0;
    }
    bool IsOpen() const { return static_cast<bool>(in_); }
    uint64_t Size() override { return size_; }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_) return -1;
        in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return in_.gcount();
    }

private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

struct ScanCounts {
    uint64_t files = 0, executables = 0, detected = 0, unreadable = 0;
    double kilobytes = 0;
};

class CScanRun {
public:
    explicit CScanRun(const CSignatureIndex& index) : index_(index) {}

    void ScanPath(const fs::path& path) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(path, ec);
        if (ec) {
            WriteErr("tesmora-sig scan: cannot access '" + path.u8string() + "'\n");
            ++counts.unreadable;
            return;
        }
        if (fs::is_directory(st)) {
            // Symbolic links to directories are not followed: a loop cannot hold the walk.
            for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
                 !ec && it != end; it.increment(ec)) {
                if (it->is_regular_file(ec) && !it->is_symlink(ec)) ScanFile(it->path());
            }
        } else if (fs::is_regular_file(st)) {
            ScanFile(path);
        }
    }

    ScanCounts counts;
    std::string report;

private:
    void ScanFile(const fs::path& path) {
        ++counts.files;
        CStreamFile file(path);
        if (!file.IsOpen()) {
            ++counts.unreadable;
            return;
        }
        const PeScanOutcome out = ScanPeFile(file, index_, headers_, table_, buffer_, true, [] { return false; });
        counts.kilobytes += out.kilobytes;
        if (out.result == PeScanResult::NotExecutable) return;
        ++counts.executables;
        if (out.result != PeScanResult::Matched) return;
        ++counts.detected;
        const CMalwareRemover& r = *out.match->remover;
        report += path.u8string() + "\t" + Utf16ToUtf8(r.GetFamilyName()) + "." + Utf16ToUtf8(r.GetVariantName()) +
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
    ExecutableHeaders headers_;
    std::vector<uint8_t> table_, buffer_;
};

int Usage(const std::string& problem) {
    WriteErr("tesmora-sig scan: " + problem + "\nusage: tesmora-sig scan [--script SCRIPT] PATH...\n");
    return 2;
}

}  // namespace

int RunScanCommand(int argc, char** argv) {
    const char* scriptPath = nullptr;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--script") == 0) {
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

    CScanRun run(controller.Index());
    for (const std::string& p : paths) run.ScanPath(fs::u8path(p));
    run.Flush();
    const ScanCounts& c = run.counts;
    WriteErr("tesmora-sig scan: " + std::to_string(c.files) + " files, " + std::to_string(c.executables) +
             " executables, " + std::to_string(static_cast<uint64_t>(c.kilobytes)) + " KB read, " +
             std::to_string(c.detected) + " detected" +
             (c.unreadable != 0 ? ", " + std::to_string(c.unreadable) + " unreadable" : std::string()) + "\n");
    return c.detected != 0 ? 1 : 0;
}
