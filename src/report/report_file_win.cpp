#include "report/report_file_win.h"

#include <windows.h>

#include "common/wow64_win.h"
#include "removal/file_replace_win.h"

WindowsFacts QueryWindowsFacts() {
    WindowsFacts facts;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExW(&info)) {
        facts.major = info.dwMajorVersion;
        facts.minor = info.dwMinorVersion;
        facts.ntFamily = info.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS;
        // 9x/ME keeps the version in the high word of the build number.
        facts.build = facts.ntFamily ? info.dwBuildNumber : (info.dwBuildNumber & 0xFFFF);
        facts.servicePack.assign(reinterpret_cast<const char16_t*>(info.szCSDVersion));
        while (!facts.servicePack.empty() && facts.servicePack.back() == u' ') facts.servicePack.pop_back();
    }
    facts.programBits = sizeof(void*) == 8 ? 64 : 32;
    facts.systemBits = Is64BitWindows() ? 64 : 32;
    return facts;
}

bool WriteReportFile(const std::u16string& path, std::string_view bytes) {
    // A bare name is in the current folder, as the log's is; the new file
    // goes into the same folder.
    if (path.find_first_of(u"\\/:") == std::u16string::npos) return ReplaceFileContent(u".\\" + path, bytes);
    return ReplaceFileContent(path, bytes);
}
