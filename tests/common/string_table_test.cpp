#include "common/string_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Text(unsigned id) {
    return LoadText(static_cast<StringId>(id));
}

TEST(StringTableTest, TextsByNumberAreExact) {
    static const struct {
        unsigned id;
        const char16_t* text;
    } kCases[] = {
        {17, u"- Host: \"%s\", IP: %d.%d.%d.%d\r\n"},
        {22, u"\r\nScanning drive "},  // ends in a blank
        {56, u"cannot open process \"%s\" for read\r\n"},
        {62, u"\r\nNo malware found in memory\r\n\r\n"},
        {68, u"will be removed after reboot\n"},  // line feed only
        {89, u"- Warning: incompatible options: /APPEND and  /NOLOG.\r\n"},
        {146, u"WARNING "},
        {167, u"cleaning \"hosts\" file ..."},
        {169, u"cleaning \"%s\" file ..."},
        {1009, u"No administrator rights dialog"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(c.text, Text(c.id));
    }
}

// 91 and 92 sit between January and February.
TEST(StringTableTest, MonthsSkipTheSingleInstanceTexts) {
    static const unsigned kMonthIds[] = {90, 93, 94, 95, 96, 97,
                                         98, 99, 100, 101, 102, 103};
    static const char16_t* const kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr",
                                              u"May", u"Jun", u"Jul", u"Aug",
                                              u"Sep", u"Oct", u"Nov", u"Dec"};
    for (int m = 0; m < 12; ++m) {
        EXPECT_EQ(kMonths[m], Text(kMonthIds[m]));
    }
    EXPECT_EQ(u"Program is already running.", Text(91));
    EXPECT_EQ(u"Error", Text(92));
}

TEST(StringTableTest, ProductLineNamesVersionYearAndMaker) {
    const std::u16string line = LoadText(IDS_PRODUCT_LINE);
    for (const char16_t* part : {u"Removal Tool", u"3.0", u"2006", u"Zelox GmbH"}) {
        EXPECT_NE(std::u16string::npos, line.find(part)) << "missing part";
    }
    // The banner prints "Tesmora " in front of it, on the same line.
    EXPECT_EQ(std::u16string::npos, line.find(u"Tesmora"));
    EXPECT_EQ(std::u16string::npos, line.find(u'\n'));
}

TEST(StringTableTest, UnknownIdsGiveEmptyText) {
    for (unsigned id : {0u, 29u, 60u, 104u, 141u, 174u, 1008u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        const char16_t* text = LoadText(static_cast<StringId>(id));
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(u'\0', text[0]);
    }
}

}  // namespace
