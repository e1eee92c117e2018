#include "win/scan_host.h"

#include <windows.h>

#include <string>

#include "win/process_api.h"

bool CWin32ScanHost::IsVersionQueryFailed() { return CProcessApi::IsVersionQueryFailed(); }

std::optional<std::u16string> CWin32ScanHost::LoadScriptText() { return LoadScriptResource(nullptr); }

CFolderLookup& CWin32ScanHost::Folders() { return *CProcessApi::GetInstance(); }

void CWin32ScanHost::ShowError(std::u16string_view text, std::u16string_view caption) {
    const std::wstring body(text.begin(), text.end());
    const std::wstring title(caption.begin(), caption.end());
    MessageBoxW(nullptr, body.c_str(), caption.empty() ? nullptr : title.c_str(), MB_OK);
}

bool CWin32ScanHost::QueryAdministrator() { return QueryAccountIsAdministrator(); }

void CWin32ScanHost::PostScanResult(void* window, ScanResultCode code) {
    PostMessageW(static_cast<HWND>(window), WM_SCAN_RESULT, static_cast<WPARAM>(static_cast<int32_t>(code)),
                 static_cast<LPARAM>(kScanResultTag));
}

void CWin32ScanHost::ReleaseSystem() { CProcessApi::ReleaseInstance(); }

bool QueryAccountIsAdministrator() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return true;
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;

    struct UserInfo1 {  // USER_INFO_1
        LPWSTR name, password;
        DWORD passwordAge, privilege;
        LPWSTR homeDir, comment;
        DWORD flags;
        LPWSTR scriptPath;
    };
    using NetUserGetInfoFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, BYTE**);
    using NetApiBufferFreeFn = DWORD(WINAPI*)(void*);
    HMODULE netapi = LoadLibraryW(L"Netapi32.dll");
    if (netapi == nullptr) return false;
    auto getInfo = reinterpret_cast<NetUserGetInfoFn>(reinterpret_cast<void (*)()>(GetProcAddress(netapi, "NetUserGetInfo")));
    auto bufferFree = reinterpret_cast<NetApiBufferFreeFn>(reinterpret_cast<void (*)()>(GetProcAddress(netapi, "NetApiBufferFree")));
    bool admin = false;
    wchar_t user[256];
    DWORD size = 256;
    BYTE* buffer = nullptr;
    if (getInfo != nullptr && bufferFree != nullptr && GetUserNameW(user, &size) &&
        getInfo(nullptr, user, 1, &buffer) == 0 && buffer != nullptr) {
        admin = reinterpret_cast<UserInfo1*>(buffer)->privilege == 2;  // USER_PRIV_ADMIN
        bufferFree(buffer);
    }
    FreeLibrary(netapi);
    return admin;
}
