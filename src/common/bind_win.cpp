#include "common/bind_win.h"

#include <cstring>
#include <cwchar>

#include "common/unicode_layer_win.h"

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t length = std::wcslen(name);
    if (n == 0 || n + 1 + length >= MAX_PATH) return nullptr;
    path[n] = L'\\';
    std::wmemcpy(path + n + 1, name, length + 1);
    // The library's own imports are looked for in its folder first, not in
    // the program's.
    using LoadLibraryExWFn = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
    static const auto loadEx = BindLoaded<LoadLibraryExWFn>(L"kernel32.dll", "LoadLibraryExW");
    if (loadEx != nullptr) {
        if (HMODULE module = loadEx(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) return module;
    }
    return LoadLibraryW(path);
}

void RestrictLibrarySearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    // Windows 8, and 7 with its loader update: the system folder only.
    const auto setDefault = BindLoaded<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(kSearchSystem32)) return;
    // XP SP1 on: at least not the current directory.
    if (const auto setDirectory = BindLoaded<SetDllDirectoryWFn>(L"kernel32.dll", "SetDllDirectoryW")) {
        setDirectory(L"");
    }
}

FARPROC BoundAddress(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    const std::size_t n = std::strlen(name);
    if (n > 1 && name[n - 1] == 'W') {
        if (FARPROC layer = UnicodeLayerProcAddress(name)) return layer;
    }
    return GetProcAddress(module, name);
}
