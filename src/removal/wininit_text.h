// The "[rename]" section of WININIT.INI, on its text decoded to UTF-16.
#pragma once

#include <string>
#include <string_view>

// `text` with the line destination=source added as the first line of its
// "[rename]" section (header found in any letter case, rewritten in lower
// case), or with a new section appended right after its last unit.
// The destination "NUL" deletes the source.
std::u16string AddWininitRename(std::u16string_view text, std::u16string_view destination,
                                std::u16string_view source);
