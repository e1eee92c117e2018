#include "removal/path_table.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathTableTest, RecordsOncePerPathIgnoringCase) {
    CPathTable table;
    EXPECT_FALSE(table.CheckAndRecord(u"C:\\WINDOWS\\a.exe"));
    EXPECT_TRUE(table.CheckAndRecord(u"c:\\windows\\A.EXE"));
    EXPECT_FALSE(table.CheckAndRecord(u"C:\\WINDOWS\\b.exe"));
    table.Clear();
    EXPECT_FALSE(table.CheckAndRecord(u"C:\\WINDOWS\\a.exe"));
}

TEST(PathTableTest, FullTableOverwritesEntryZero) {
    CPathTable table;
    for (int i = 0; i < 1024; ++i) {
        const std::string n = "pa" + std::to_string(i);
        ASSERT_FALSE(table.CheckAndRecord(std::u16string(n.begin(), n.end())));
    }
    EXPECT_FALSE(table.CheckAndRecord(u"new"));
    EXPECT_TRUE(table.CheckAndRecord(u"NEW"));
    EXPECT_FALSE(table.CheckAndRecord(u"pa0"));  // overwritten
    EXPECT_TRUE(table.CheckAndRecord(u"pa1023"));
}

TEST(PathTableTest, LongPathsAreKeptToTheirFirst259Units) {
    CPathTable table;
    const std::u16string longPath(400, u'x');
    EXPECT_FALSE(table.CheckAndRecord(longPath));
    EXPECT_TRUE(table.CheckAndRecord(longPath.substr(0, 259) + u"different tail"));
}
