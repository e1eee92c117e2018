// "[Rename]\r\nNUL=C:\old.exe\r\n" plus the deletion of C:\new.exe gives
// "[rename]\r\nNUL=C:\new.exe\r\nNUL=C:\old.exe\r\n"; "[boot]\r\nx=1" plus it
// gives "[boot]\r\nx=1[rename]\r\nNUL=C:\new.exe\r\n".
#include "removal/wininit_text.h"

#include "common/text16.h"

std::u16string AddWininitRename(std::u16string_view text, std::u16string_view destination,
                                std::u16string_view source) {
    static constexpr std::u16string_view kHeader = u"[rename]";
    std::u16string entry(kHeader);
    entry += u"\r\n";
    entry += destination;
    entry += u'=';
    entry += source;
    const std::size_t p = FindIgnoreCase(text, kHeader);
    std::u16string out;
    if (p == std::u16string_view::npos) {
        out.reserve(text.size() + entry.size() + 2);
        out += text;
        out += entry;
        out += u"\r\n";
    } else {
        out.reserve(text.size() + entry.size());
        out += text.substr(0, p);
        out += entry;
        out += text.substr(p + kHeader.size());
    }
    return out;
}
