#include "common/wow64_win.h"

#include <windows.h>

#include "common/bind_win.h"
#include "common/text16.h"
#include "common/windows_version_win.h"

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
using RevertRedirectionFn = BOOL(WINAPI*)(PVOID);
using GetSystemWow64DirectoryWFn = UINT(WINAPI*)(LPWSTR, UINT);

bool QueryWow64() {
    if (sizeof(void*) == 8) return false;
    const auto isWow64 = BindLoaded<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

bool IsNt51OrLater() {
    const std::optional<WindowsVersion> version = QueryWindowsVersion();
    return version && version->IsNtAtLeast(5, 1);
}

std::u16string Folder(UINT (WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH];
    const UINT n = query(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::u16string(buffer, buffer + n);
}

}  // namespace

bool IsWow64() {
    static const bool wow64 = QueryWow64();
    return wow64;
}

bool Is64BitWindows() {
    // The 64-bit program runs nowhere else, whatever version a compatibility
    // setting reports.
    static const bool is64 = sizeof(void*) == 8 || (IsWow64() && IsNt51OrLater());
    return is64;
}

std::u16string SystemWow64Directory() {
    const auto query = BindLoaded<GetSystemWow64DirectoryWFn>(L"kernel32.dll", "GetSystemWow64DirectoryW");
    if (query == nullptr || !Is64BitWindows()) return {};
    return Folder(query);
}

std::u16string RedirectionFreeName(std::u16string_view path) {
    if (!IsWow64()) return std::u16string(path);
    const std::u16string system = Folder(&GetSystemDirectoryW);
    if (system.empty() || path.size() < system.size() || !EqualsIgnoreCase(path.substr(0, system.size()), system) ||
        (path.size() > system.size() && path[system.size()] != u'\\')) {
        return std::u16string(path);
    }
    const std::u16string alias = Folder(&GetWindowsDirectoryW) + u"\\Sysnative";
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(alias.c_str()));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {};
    return alias + std::u16string(path.substr(system.size()));
}

namespace {

// The redirection switches, bound once (the file scan opens every file
// through a guard).
struct RedirectionSwitches {
    DisableRedirectionFn disable = nullptr;
    RevertRedirectionFn revert = nullptr;
};
const RedirectionSwitches& Switches() {
    static const RedirectionSwitches switches = [] {
        RedirectionSwitches s;
        if (!IsWow64()) return s;
        s.disable = BindLoaded<DisableRedirectionFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
        s.revert = BindLoaded<RevertRedirectionFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
        // Both came with XP x64: one without the other is not used.
        if (s.disable == nullptr || s.revert == nullptr) s = RedirectionSwitches{};
        return s;
    }();
    return switches;
}

}  // namespace

CFsRedirectionOff::CFsRedirectionOff() {
    const RedirectionSwitches& switches = Switches();
    active_ = switches.disable != nullptr && switches.disable(&previous_);
}

void CFsRedirectionOff::Revert() {
    if (!active_) return;
    active_ = false;
    // The error of the guarded operation stays for its caller to read.
    const DWORD error = GetLastError();
    Switches().revert(previous_);
    SetLastError(error);
}
