// The scan controller's view of the running Windows.
#pragma once

#include <optional>

#include "scan/scan_controller.h"
#include "script/script_resource_win.h"

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

// Whether the program runs with administrator rights: always on Windows
// 9x/ME; on NT 4.0 when the account has the administrator privilege level;
// from Windows 2000 on when the token holds the Administrators group or is
// SYSTEM's (the account level when CheckTokenMembership is missing).
bool QueryAccountIsAdministrator();

// The token's answer alone; nothing when CheckTokenMembership is missing.
std::optional<bool> TokenIsAdministrator();
