#include "removal/path_folders.h"

#include <gtest/gtest.h>

namespace {

using Folders = std::vector<std::u16string>;

TEST(PathFoldersTest, FoldersBelowTheRootOutermostFirst) {
    struct Case {
        std::u16string path;
        std::size_t from;
        Folders expected;
    };
    const Case cases[] = {
        {u"C:\\a\\b\\c.exe", 0, {u"C:\\a", u"C:\\a\\b"}},
        {u"C:\\a\\b\\c.exe", 4, {u"C:\\a\\b"}},        // below C:\a
        {u"C:\\a\\b\\c.exe", 6, {}},                   // below C:\a\b
        {u"C:\\c.exe", 0, {}},                         // in the root
        {u"\\\\srv\\share\\d\\e.exe", 0, {u"\\\\srv\\share\\d"}},
        {u"C:\\a\\\\b\\c.exe", 0, {u"C:\\a", u"C:\\a\\\\b"}},  // a doubled separator names no folder of its own
        {u"", 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, FoldersBelow(c.path, c.from)) << std::string(c.path.begin(), c.path.end());
    }
}

TEST(PathFoldersTest, InsideFolderIgnoresCaseAndNeedsASeparator) {
    EXPECT_EQ(std::optional<std::size_t>(11), InsideFolder(u"C:\\TEMP\\dir\\x.exe", u"c:\\temp\\dir"));
    EXPECT_EQ(std::optional<std::size_t>(7), InsideFolder(u"C:\\Temp\\x.exe", u"C:\\temp\\"));
    EXPECT_EQ(std::nullopt, InsideFolder(u"C:\\Temporary\\x.exe", u"C:\\Temp"));  // a longer sibling name
    EXPECT_EQ(std::nullopt, InsideFolder(u"C:\\Temp", u"C:\\Temp"));              // the folder itself
    EXPECT_EQ(std::nullopt, InsideFolder(u"C:\\Temp\\x.exe", u""));
}

TEST(PathFoldersTest, ContainingFolder) {
    EXPECT_EQ(u"C:\\a", ContainingFolder(u"C:\\a\\b.exe"));
    EXPECT_EQ(u"C:", ContainingFolder(u"C:\\b.exe"));
    EXPECT_EQ(u"", ContainingFolder(u"b.exe"));
}

}  // namespace
