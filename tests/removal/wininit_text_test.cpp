#include "removal/wininit_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(WininitTextTest, AddsTheEntryAsFirstLineOfTheRenameSection) {
    static const struct {
        const char16_t* in;
        const char16_t* destination;
        const char16_t* source;
        const char16_t* out;
    } kCases[] = {
        {u"", u"NUL", u"C:\\WINDOWS\\x.exe", u"[rename]\r\nNUL=C:\\WINDOWS\\x.exe\r\n"},
        {u"", u"C:\\b.exe", u"C:\\a.exe", u"[rename]\r\nC:\\b.exe=C:\\a.exe\r\n"},
        {u"[Rename]\r\nNUL=C:\\old.exe\r\n", u"NUL", u"C:\\new.exe",
         u"[rename]\r\nNUL=C:\\new.exe\r\nNUL=C:\\old.exe\r\n"},
        // No section and no final line break: the section follows the last unit.
        {u"[boot]\r\nx=1", u"NUL", u"C:\\new.exe", u"[boot]\r\nx=1[rename]\r\nNUL=C:\\new.exe\r\n"},
        // Found in the middle: what follows the header stays.
        {u"[a]\r\n[RENAME]\r\nC:\\q=C:\\p\r\n[z]\r\n", u"C:\\b", u"C:\\a",
         u"[a]\r\n[rename]\r\nC:\\b=C:\\a\r\nC:\\q=C:\\p\r\n[z]\r\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::u16string(c.in).size());
        EXPECT_EQ(c.out, AddWininitRename(c.in, c.destination, c.source));
    }
}
