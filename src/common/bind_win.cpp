#include "common/bind_win.h"

#include <cwchar>

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t length = std::wcslen(name);
    if (n == 0 || n + 1 + length >= MAX_PATH) return nullptr;
    path[n] = L'\\';
    std::wmemcpy(path + n + 1, name, length + 1);
    return LoadLibraryW(path);
}
