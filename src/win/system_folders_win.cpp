#include "win/system_folders.h"

#include <windows.h>

#include <cstring>

namespace {

using SHGetSpecialFolderPathWFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
using GetLongPathNameWFn = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);

wchar_t* W(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }

}  // namespace

CSystemFolders::CSystemFolders() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&version)) {
        isNt4_ = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 4;
    }
#pragma GCC diagnostic pop
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (shell != nullptr) {
        FARPROC fn = GetProcAddress(shell, "SHGetSpecialFolderPathW");
        if (fn == nullptr) {
            FreeLibrary(shell);
        } else {
            shell32_ = shell;
            getSpecialFolderPath_ = reinterpret_cast<void*>(fn);
        }
    }
    HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL");
    if (kernel != nullptr) {
        getLongPathName_ = reinterpret_cast<void*>(GetProcAddress(kernel, "GetLongPathNameW"));
    }
}

CSystemFolders::~CSystemFolders() {
    if (shell32_ != nullptr) FreeLibrary(static_cast<HMODULE>(shell32_));
}

const char16_t* CSystemFolders::GetWindowsDir() {
    std::memset(windows_, 0, sizeof windows_);
    return GetWindowsDirectoryW(W(windows_), 260) != 0 ? windows_ : nullptr;
}

const char16_t* CSystemFolders::GetSystemDir() {
    std::memset(system_, 0, sizeof system_);
    return GetSystemDirectoryW(W(system_), 260) != 0 ? system_ : nullptr;
}

const char16_t* CSystemFolders::SpecialFolder(int csidl, char16_t* buffer) {
    std::memset(buffer, 0, 260 * sizeof(char16_t));
    if (getSpecialFolderPath_ == nullptr) return nullptr;
    auto fn = reinterpret_cast<SHGetSpecialFolderPathWFn>(getSpecialFolderPath_);
    return fn(nullptr, W(buffer), csidl, FALSE) ? buffer : nullptr;
}

const char16_t* CSystemFolders::GetProgramFilesDir() { return SpecialFolder(0x26, programFiles_); }
const char16_t* CSystemFolders::GetProfileDir() { return SpecialFolder(0x28, profile_); }
const char16_t* CSystemFolders::GetInternetCacheDir() { return SpecialFolder(0x20, internetCache_); }
const char16_t* CSystemFolders::GetCookiesDir() { return SpecialFolder(0x21, cookies_); }

const char16_t* CSystemFolders::GetTempDir() {
    std::memset(temp_, 0, sizeof temp_);
    wchar_t shortPath[260] = {};
    const DWORD n = GetTempPathW(260, shortPath);
    if (n == 0 || n >= 260) return nullptr;
    if (isNt4_) {
        std::memcpy(temp_, shortPath, sizeof shortPath);
    } else {
        if (getLongPathName_ == nullptr) return nullptr;
        auto fn = reinterpret_cast<GetLongPathNameWFn>(getLongPathName_);
        const DWORD m = fn(shortPath, W(temp_), 260);
        if (m == 0 || m >= 260) {
            std::memset(temp_, 0, sizeof temp_);
            return nullptr;
        }
    }
    std::size_t len = 0;
    while (len < 259 && temp_[len] != 0) ++len;
    if (len != 0 && temp_[len - 1] == u'\\') temp_[len - 1] = 0;
    return temp_;
}
