// A remover of the test's own that records every Remove call, and a scan
// host for controllers built by tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "removers/remover.h"
#include "scan/scan_controller.h"
#include "support/script_support.h"

// One Remove call as a remover saw it.
struct RemoveCall {
    const CMalwareRemover* remover = nullptr;
    bool hasPath = false;
    std::u16string path;
    uint32_t processId = 0;                      // built-in form
    std::vector<InfectedProcessRecord> records;  // script form
    DetectionSource source = DetectionSource::File;
    bool moreFollow = false;
};

// Memory signature `memory` (at least 32 bytes); scripted or built-in by
// choice. Remove calls go to `log` in call order.
class CRecordingRemover : public CMalwareRemover {
public:
    CRecordingRemover(const std::vector<uint8_t>& memory, bool scripted, std::vector<RemoveCall>& log);
    const char16_t* GetFamilyName() const override { return u"Test"; }
    const char16_t* GetVariantName() const override { return scripted_ ? u"Scripted" : u"Builtin"; }
    bool IsScripted() const override { return scripted_; }
    void Remove(CScanController& controller, const char16_t* path, const void* detail, DetectionSource source,
                bool moreFollow) override;

private:
    bool scripted_;
    std::vector<RemoveCall>& log_;
};

// Output collected as one text; status lines kept in order.
class CCollectingOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view first, const char16_t* second, int) override {
        text += std::u16string(first) + (second != nullptr ? second : u"");
    }
    void Print(std::u16string_view t, int) override { text += t; }
    void SetStatusText(std::u16string_view t, int) override { status.emplace_back(t); }
    void ScanFinished(ScanResultCode) override {}

    std::u16string text;
    std::vector<std::u16string> status;
};

// A host with a script text of the test's choice and fixed folders.
class CScriptTextHost : public CScanHost {
public:
    explicit CScriptTextHost(std::optional<std::u16string> script) : script_(std::move(script)) {}
    bool IsVersionQueryFailed() override { return false; }
    std::optional<std::u16string> LoadScriptText() override { return script_; }
    CFolderLookup& Folders() override { return folders_; }
    CDiagnosticSink& Diagnostics() override { return sink; }
    void ShowError(std::u16string_view, std::u16string_view) override {}
    bool QueryAdministrator() override { return true; }
    void PostScanResult(void*, ScanResultCode) override {}
    bool Unattended() override { return unattended; }

    CRecordingSink sink;
    bool unattended = false;

private:
    std::optional<std::u16string> script_;
    CFixedFolders folders_;
};

// Upper-case hexadecimal text of `bytes`.
std::u16string HexText(const std::vector<uint8_t>& bytes);
