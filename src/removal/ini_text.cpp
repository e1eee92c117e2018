// Section "shell=Explorer.exe evil.exe\0run=C:\evil.exe\0evil.exe=1\0\0" with
// the text EVIL.EXE selects {shell, explorer.exe} and {run, ""}; the last
// entry names the text only in its key and stays.
#include "removal/ini_text.h"

#include "common/text16.h"

std::vector<IniRewrite> SelectIniRewrites(std::u16string_view section, std::u16string_view text) {
    std::vector<IniRewrite> out;
    if (text.empty()) return out;
    std::size_t start = 0;
    while (start < section.size() && section[start] != 0) {
        std::size_t end = section.find(u'\0', start);
        if (end == std::u16string_view::npos) end = section.size();
        const std::u16string_view entry = section.substr(start, end - start);
        const std::size_t eq = entry.find(u'=');
        if (eq != std::u16string_view::npos && FindIgnoreCase(entry, text, eq + 1) != std::u16string_view::npos) {
            std::u16string key(entry.substr(0, eq));
            const bool shell = EqualsIgnoreCase(key, u"shell");
            out.push_back({std::move(key), shell ? u"explorer.exe" : u""});
        }
        start = end + 1;
    }
    return out;
}
