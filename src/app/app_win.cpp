// Program entry. Until the main window exists, the program loads and parses
// its script and tells what it holds.
#include <windows.h>

#include <string>

#include "common/text16.h"
#include "script/parser.h"
#include "win/script_resource.h"
#include "win/process_api.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CProcessApi& folders = *CProcessApi::GetInstance();
    CMessageBoxSink sink;
    const std::optional<std::u16string> text = LoadScriptResource();
    std::u16string summary;
    if (text) {
        CMalwareScript script(folders, *text, sink);
        if (!script.Parse()) {
            MessageBoxW(nullptr, L"The application will not start until you fix the previous parse error.",
                        L"Error", MB_OK);
            return -20;
        }
        summary = Format16(u"The malware description script holds %d descriptions:\r\n",
                           {static_cast<int32_t>(script.Descriptions().size())});
        for (const CMalwareDescription& d : script.Descriptions()) {
            summary += u"  " + d.baseName + u"." + d.variantName + u"\r\n";
        }
    } else {
        summary = u"The program carries no malware description script.\r\n";
    }
    summary += u"\r\nScanning is not available in this build.";
    const std::wstring body(summary.begin(), summary.end());
    MessageBoxW(nullptr, body.c_str(), L"Tesmora Removal Tool", MB_OK | MB_ICONINFORMATION);
    return 0;
}
