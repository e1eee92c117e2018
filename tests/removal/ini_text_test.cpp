#include "removal/ini_text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text16.h"

namespace {

using Section = std::u16string;

// The whole literal, inner zero units included.
template <std::size_t N>
Section S(const char16_t (&s)[N]) {
    return Section(s, N - 1);
}

std::u16string Keys(const std::vector<IniRewrite>& rewrites) {
    std::u16string out;
    for (const auto& r : rewrites) out += r.key + u"=" + r.value + u";";
    return out;
}

TEST(IniTextTest, SelectsEntriesNamingTheTextAfterTheirFirstEquals) {
    static const struct {
        Section section;
        const char16_t* text;
        const char16_t* selected;
    } kCases[] = {
        {S(u"shell=Explorer.exe evil.exe\0run=C:\\WINDOWS\\evil.exe\0evil.exe=1\0\0"), u"evil.exe",
         u"shell=explorer.exe;run=;"},
        {S(u"Shell=EVIL.EXE\0\0"), u"Evil.Exe", u"Shell=explorer.exe;"},
        {S(u"load=a.exe\0noequals evil.exe\0x=y=evil.exe\0\0"), u"EVIL.EXE", u"x=;"},
        {S(u"evil.exe=evil.exe\0\0"), u"evil.exe", u"evil.exe=;"},
        {S(u"run=a\0\0"), u"", u""},
        {S(u"\0"), u"a", u""},
        {S(u"run=abc"), u"b", u"run=;"},  // no terminating zero unit
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(c.selected));
        EXPECT_EQ(c.selected, Keys(SelectIniRewrites(c.section, c.text)));
    }
}

}  // namespace
