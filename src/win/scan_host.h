// The scan controller's view of the running Windows.
#pragma once

#include "scan/scan_controller.h"
#include "win/script_resource.h"

class CWin32ScanHost : public CScanHost {
public:
    bool IsVersionQueryFailed() override;
    std::optional<std::u16string> LoadScriptText() override;
    CFolderLookup& Folders() override;
    CDiagnosticSink& Diagnostics() override { return sink_; }
    void ShowError(std::u16string_view text, std::u16string_view caption) override;
    bool QueryAdministrator() override;
    void PostScanResult(void* window, ScanResultCode code) override;
    void ReleaseSystem() override;

private:
    CMessageBoxSink sink_;
};

// Whether the current user's account has the administrator privilege level
// (always true on Windows 9x/ME).
bool QueryAccountIsAdministrator();
