// Program entry. Until the main window exists, the program builds its scan
// session (script, detector table, signature index) and tells what it knows.
#include <windows.h>

#include <string>

#include "scan/scan_controller.h"
#include "win/scan_host.h"

namespace {

// Output of a session that runs no scan.
class CNoOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view, const char16_t*, int) override {}
    void Print(std::u16string_view, int) override {}
    void SetStatusText(std::u16string_view, int) override {}
    void ScanFinished(ScanResultCode) override {}
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CWin32ScanHost host;
    CNoOutput output;
    CScanController controller(output, host, TakeBuiltinRemovers(), {});
    if (controller.ConstructionResult() != 0) return controller.ConstructionResult();
    std::u16string text = u"Removal tool for:\r\n" + controller.GetMalwareNames() +
                          u"\r\n\r\nScanning is not available in this build.";
    const std::wstring body(text.begin(), text.end());
    MessageBoxW(nullptr, body.c_str(), L"Tesmora Removal Tool", MB_OK | MB_ICONINFORMATION);
    return 0;
}
