#include "common/windows_version_win.h"

#include <windows.h>

std::optional<WindowsVersion> QueryWindowsVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;  // 276
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return std::nullopt;
#pragma GCC diagnostic pop
    return WindowsVersion{version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion};
}
