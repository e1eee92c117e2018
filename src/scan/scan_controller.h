// The scan session: script, detector table, signature index, options,
// counters, output channel and the scan thread that runs the phases.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/worker_thread.h"
#include "report/detection_journal.h"
#include "removers/remover.h"
#include "scan/scan_types.h"
#include "script/model.h"
#include "signature/signature_index.h"

class CDiagnosticSink;
class CFolderLookup;
class CMalwareScript;
class CQuarantine;

// What the controller needs of the system it runs on.
class CScanHost {
public:
    virtual ~CScanHost() = default;
    virtual bool IsVersionQueryFailed() = 0;
    // The script resource's text after its byte-order unit; nothing when the
    // program carries no script.
    virtual std::optional<std::u16string> LoadScriptText() = 0;
    virtual CFolderLookup& Folders() = 0;
    virtual CDiagnosticSink& Diagnostics() = 0;
    // A modal message box without owner.
    virtual void ShowError(std::u16string_view text, std::u16string_view caption) = 0;
    virtual bool QueryAdministrator() = 0;
    // True when no one watches the run (silent mode): nothing may wait for a
    // person, and what would be shown goes to the log.
    virtual bool Unattended() { return false; }
    // Posts WM_SCAN_RESULT with `code` to the window.
    virtual void PostScanResult(void* window, ScanResultCode code) = 0;
    // Called last when the controller goes away (releases the system object).
    virtual void ReleaseSystem() {}
};

// Moves the built-in removers out of g_builtinRemovers, in list order, for
// the one controller of the program run.
std::vector<std::unique_ptr<CMalwareRemover>> TakeBuiltinRemovers();

class CScanController {
public:
    // Builds the session. `builtins` are the built-in removers in list order,
    // `phases` the registered scan phases (memory scan first). When the
    // construction fails, ConstructionResult() tells why (kScanVersionQueryFailed
    // or kScanParseFailed) and the program ends with that code.
    CScanController(CScanOutput& output, CScanHost& host, std::vector<std::unique_ptr<CMalwareRemover>> builtins,
                    std::vector<std::unique_ptr<CScanner>> phases);
    virtual ~CScanController();
    CScanController(const CScanController&) = delete;
    CScanController& operator=(const CScanController&) = delete;

    int32_t ConstructionResult() const { return constructionResult_; }

    // Starts the scan thread; false when a scan is running or the session
    // could not be built. `window` is copied; drives is not owned.
    bool StartScan(char16_t* pathBuffer, void* const* window, const DriveListNode* drives);
    // Waits for the scan thread to end and returns its result code.
    int32_t WaitForScan();
    void RequestStop(int ignored = 0) { stop_.store(1); }
    bool IsStopRequested() const { return stop_.load() != 0; }
    bool IsRunning() const { return running_.load() != 0; }

    ScanStatistics& GetStatistics() { return statistics_; }
    bool Unattended() { return host_.Unattended(); }

    void Print(std::u16string_view text) { output_.Print(text, 0); }
    void PrintHighlighted(std::u16string_view first, const char16_t* second) {
        output_.PrintHighlighted(first, second, 0);
    }
    void SetStatusText(std::u16string_view text) { output_.SetStatusText(text, 0); }

    const SignatureIndexEntry* FindMemorySignature(const uint8_t* data, std::size_t length) const {
        return index_.FindInMemory(data, length);
    }
    const SignatureIndexEntry* FindFileSignature(const uint8_t* data, std::size_t length, std::size_t& start) const {
        return index_.FindInFile(data, length, start);
    }
    const CSignatureIndex& Index() const { return index_; }
    bool HasDescriptionWithoutMemorySignature() const { return descriptionWithoutMemorySignature_; }

    // Scan only: every detection is printed and counted, and nothing on the
    // system is changed (no remover runs).
    void SetScanOnly(bool v) { scanOnly_ = v; }
    bool IsScanOnly() const { return scanOnly_; }
    // Where removals keep copies of the files they change (not owned; null: none).
    void SetQuarantine(CQuarantine* quarantine) { quarantine_ = quarantine; }
    // The detections of the last scan with the actions taken on each.
    const CDetectionJournal& Journal() const { return journal_; }

    // A scanner's detection: written down, then handed to `remover` (or, scan
    // only, just reported). Arguments as CMalwareRemover::Remove takes them.
    void HandleDetection(CMalwareRemover& remover, const char16_t* path, const void* detail, DetectionSource source,
                         bool moreFollow);

    void SetSilent(bool v) { silent_ = v; }
    bool IsSilent() const { return silent_; }
    void SetAppend(bool v) { append_ = v; }
    bool IsAppend() const { return append_; }
    void SetLogEnabled(bool v) { logEnabled_ = v; }
    bool IsLogEnabled() const { return logEnabled_; }
    void SetLogFileName(std::u16string_view name) { logFileName_ = std::u16string(name); }
    const std::optional<std::u16string>& GetLogFileName() const { return logFileName_; }

    bool IsAdministrator();
    // "Family.Variant/Variant" lines, families in code-unit order.
    const std::u16string& GetMalwareNames();

    // The detector table: built-in removers, then one per usable description.
    const std::vector<std::unique_ptr<CMalwareRemover>>& Removers() const { return removers_; }
    const std::vector<CMalwareDescription>& Descriptions() const { return descriptions_; }

private:
    void RunScan();
    // The phases in order, under the journaled removal system; `stopped` when a
    // stop request ended them.
    int32_t RunPhases(bool& stopped);
    void Finish(int32_t code, bool posted);

    CScanOutput& output_;
    CScanHost& host_;
    std::atomic<int32_t> stop_{0};
    std::atomic<int32_t> running_{0};
    std::atomic<int32_t> result_{0};
    bool descriptionWithoutMemorySignature_ = false;
    void* window_ = nullptr;
    int32_t constructionResult_ = 0;
    std::vector<std::unique_ptr<CScanner>> phases_;
    std::vector<std::unique_ptr<CMalwareRemover>> removers_;
    char16_t* pathBuffer_ = nullptr;
    std::optional<std::u16string> names_;
    CWorkerThread thread_;
    std::vector<CMalwareDescription> descriptions_;
    std::optional<std::u16string> logFileName_;
    const DriveListNode* drives_ = nullptr;
    std::optional<bool> administrator_;
    bool silent_ = false;
    bool scanOnly_ = false;
    CQuarantine* quarantine_ = nullptr;
    CDetectionJournal journal_;
    bool append_ = false;
    bool logEnabled_ = false;
    CSignatureIndex index_;
    ScanStatistics statistics_;
};
