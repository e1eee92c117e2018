// Entry selection of the system.ini and win.ini cleaning.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct IniRewrite {
    std::u16string key;
    std::u16string value;  // "explorer.exe" for the key "shell", else empty
};

// `section`: the entries of one section as the profile functions give them,
// "key=value" texts each ended by a zero unit, the list ended by a second
// one (or by the end of the view). An entry is rewritten when `text`
// occurs after its first "=", ignoring letter case; entries without "="
// and an empty `text` select nothing.
std::vector<IniRewrite> SelectIniRewrites(std::u16string_view section, std::u16string_view text);
