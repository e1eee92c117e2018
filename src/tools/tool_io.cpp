#include "tools/tool_io.h"

#include <cstdio>

#include "common/text16.h"

#ifdef _WIN32
#include <windows.h>

#include "common/file_io_win.h"
#endif

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& utf8Path) {
#ifdef _WIN32
    const std::u16string wide = Utf8ToUtf16(utf8Path);
    return ReadFileBytes(reinterpret_cast<const wchar_t*>(wide.c_str()));
#else
    FILE* f = std::fopen(utf8Path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) != 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    return bytes;
#endif
}

std::u16string DecodeScriptFile(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<char16_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        }
        return text;
    }
    std::string_view utf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (utf8.size() >= 3 && utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    return Utf8ToUtf16(utf8);
}

void WriteOut(std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void WriteErr(std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}
