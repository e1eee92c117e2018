// Program start: single instance, rich edit library, the main window.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main_window_win.h"
#include "common/bind_win.h"
#include "common/handles_win.h"
#include "common/text16.h"
#include "removal/file_guard_win.h"
#include "common/unicode_layer_win.h"
#include "common/string_table.h"
#include "removal/reboot_flag.h"
#include "scan/scan_host_win.h"

namespace {

class CSilentSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view, std::u16string_view) override {}
};

// The program's system view. In silent mode no message box waits for a person.
class CAppScanHost : public CWin32ScanHost {
public:
    explicit CAppScanHost(bool silent) : silent_(silent) {}
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        if (!silent_) CWin32ScanHost::ShowError(text, caption);
    }
    bool Unattended() override { return silent_; }
    CDiagnosticSink& Diagnostics() override {
        return silent_ ? static_cast<CDiagnosticSink&>(silentSink_) : CWin32ScanHost::Diagnostics();
    }
    bool QueryAdministrator() override {
#ifdef TESMORA_TEST_HOOKS
        // Test build only: Wine reports its user at the guest level.
        if (const char* v = std::getenv("TESMORA_TEST_ADMINISTRATOR")) return std::strcmp(v, "1") == 0;
#endif
        return CWin32ScanHost::QueryAdministrator();
    }

private:
    bool silent_;
    CSilentSink silentSink_;
};

#ifdef TESMORA_TEST_HOOKS
// Test build only: with TESMORA_TEST_HANDSHAKE set to a file name B, a
// detected file is handed to removal only after the test has had its turn:
// its path goes into B.ready, and the scan waits (up to a minute) for B.go.
void WaitForTheTest(const char16_t* path) {
    const char* base = std::getenv("TESMORA_TEST_HANDSHAKE");
    if (base == nullptr) return;
    const std::string ready = std::string(base) + ".ready", go = std::string(base) + ".go";
    UniqueHandle file(CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::string text = Utf16ToUtf8(path);
    DWORD written = 0;
    if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    file.reset();
    for (int i = 0; i < 600 && GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    DeleteFileA(go.c_str());
}
#endif

// Registers the status bar's class: InitCommonControlsEx where the common
// controls have it (not on a plain Windows 95), else InitCommonControls.
void InitStatusBarClass() {
    using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    auto initEx = BindLoaded<InitExFn>(L"comctl32.dll", "InitCommonControlsEx");
    if (initEx == nullptr || !initEx(&controls)) InitCommonControls();
}

}  // namespace

// A narrow entry point: the program reads its command line with
// GetCommandLineW, and the runtime's wide start needs NT.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    BindUnicodeLayer();
    RestrictLibrarySearch();
    ClearRebootRequired();
#ifdef TESMORA_TEST_HOOKS
    SetDetectionHook(WaitForTheTest);
#endif
    const bool silent = IsSilentCommandLine();
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"KLOTH_REMOVALGUI");
    if (mutex == nullptr) return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!silent) {
            MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(LoadText(IDS_ALREADY_RUNNING)),
                        reinterpret_cast<const wchar_t*>(LoadText(IDS_ERROR_CAPTION)), MB_OK);
        }
        CloseHandle(mutex);
        return -3;
    }
    InitStatusBarClass();
    HMODULE richEdit = GetModuleHandleW(L"RICHED20.DLL");
    const bool loaded = richEdit == nullptr;
    if (loaded) richEdit = LoadSystemLibrary(L"RICHED20.DLL");

    int code = 0;
    {
        CAppScanHost host(silent);
        CRemovalToolDlg window(host);
        code = window.Run();
    }
    if (loaded && richEdit != nullptr) FreeLibrary(richEdit);
    CloseHandle(mutex);
    return code;
}
