#include "scan/scan_host_win.h"

#include <windows.h>

#include <string>

#include "common/bind_win.h"
#include "common/windows_version_win.h"
#include "scanner/process_api_win.h"

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

namespace {

using TokenMembershipCheck = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);

// Windows 9x/ME and NT 4.0: the local account's privilege level.
bool AccountLevelIsAdministrator() {
    struct UserInfo1 {  // USER_INFO_1
        LPWSTR name, password;
        DWORD passwordAge, privilege;
        LPWSTR homeDir, comment;
        DWORD flags;
        LPWSTR scriptPath;
    };
    using NetUserGetInfoFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, BYTE**);
    using NetApiBufferFreeFn = DWORD(WINAPI*)(void*);
    UniqueLibrary netapi(LoadSystemLibrary(L"Netapi32.dll"));
    auto getInfo = BindFunction<NetUserGetInfoFn>(netapi.get(), "NetUserGetInfo");
    auto bufferFree = BindFunction<NetApiBufferFreeFn>(netapi.get(), "NetApiBufferFree");
    bool admin = false;
    wchar_t user[256];
    DWORD size = 256;
    BYTE* buffer = nullptr;
    if (getInfo != nullptr && bufferFree != nullptr && GetUserNameW(user, &size) &&
        getInfo(nullptr, user, 1, &buffer) == 0 && buffer != nullptr) {
        admin = reinterpret_cast<UserInfo1*>(buffer)->privilege == 2;  // USER_PRIV_ADMIN
        bufferFree(buffer);
    }
    return admin;
}

// Whether the well-known SID S-1-5-`first`[-`second`] is enabled in the
// effective token (the thread's impersonation token, else the process's).
bool TokenHasSid(TokenMembershipCheck check, DWORD count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, static_cast<BYTE>(count), first, second, 0, 0, 0, 0, 0, 0, &sid)) return false;
    BOOL member = FALSE;
    const bool ok = check(nullptr, sid, &member) != 0;
    FreeSid(sid);
    return ok && member != FALSE;
}

}  // namespace

std::optional<bool> TokenIsAdministrator() {
    auto check = BindLoaded<TokenMembershipCheck>(L"advapi32.dll", "CheckTokenMembership");
    if (check == nullptr) return std::nullopt;
    return TokenHasSid(check, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS) ||
           TokenHasSid(check, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
}

bool QueryAccountIsAdministrator() {
    const std::optional<WindowsVersion> version = QueryWindowsVersion();
    if (!version) return false;
    if (version->IsWindows9x()) return true;
    if (!version->IsNt()) return false;
    // From Windows 2000 on the token decides, so that SYSTEM and domain
    // administrators count; NT 4.0 has only the account database to ask.
    if (version->IsNtAtLeast(5, 0)) {
        if (const std::optional<bool> token = TokenIsAdministrator()) return *token;
    }
    return AccountLevelIsAdministrator();
}
