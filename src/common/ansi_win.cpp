#include "common/ansi_win.h"

#include <windows.h>

#include <climits>

std::optional<std::string> WideToAnsi(std::u16string_view text) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    // The UTF-8 code page takes no default-character query; it has no loss.
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, in, units, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string out(static_cast<std::size_t>(n), '\0');
    lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, in, units, out.data(), n, nullptr, utf8 ? nullptr : &lossy) != n ||
        lossy) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::u16string> AnsiBytesToWide(std::string_view bytes) {
    if (bytes.empty()) return std::u16string();
    if (bytes.size() > INT_MAX) return std::nullopt;
    const int count = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, out.data(), n) != n) return std::nullopt;
    return std::u16string(out.begin(), out.end());
}
