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
    return LoadLibraryW(path);
}

FARPROC BoundAddress(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    const std::size_t n = std::strlen(name);
    if (n > 1 && name[n - 1] == 'W') {
        if (FARPROC layer = UnicodeLayerProcAddress(name)) return layer;
    }
    return GetProcAddress(module, name);
}
