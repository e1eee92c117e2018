#include "script/script_resource_win.h"

#include <windows.h>

#include <cstring>

std::optional<std::u16string> LoadScriptResource(void* module) {
    HMODULE owner = static_cast<HMODULE>(module);
    HRSRC info = FindResourceW(owner, L"#161", L"SCRIPTFILE");
    if (info == nullptr) return std::nullopt;
    HGLOBAL loaded = LoadResource(owner, info);
    if (loaded == nullptr) return std::nullopt;
    const void* data = LockResource(loaded);
    const DWORD size = SizeofResource(owner, info);
    if (data == nullptr) return std::nullopt;
    const std::size_t units = size / sizeof(char16_t);
    if (units == 0) return std::u16string();
    std::u16string text(units - 1, u'\0');
    std::memcpy(text.data(), static_cast<const char*>(data) + sizeof(char16_t),
                text.size() * sizeof(char16_t));
    return text;
}

void CMessageBoxSink::ShowDiagnostic(std::u16string_view text, std::u16string_view caption) {
    const std::wstring body(text.begin(), text.end());
    const std::wstring title(caption.begin(), caption.end());
    MessageBoxW(nullptr, body.c_str(), title.c_str(), MB_OK);
}
