#include "tools/arguments.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    std::u16string line;
    std::vector<std::u16string> words;
};

TEST(SplitCommandLineTest, FollowsTheRuntimesRules) {
    const SplitCase cases[] = {
        {u"", {}},
        {u"  \t ", {}},
        {u"tool check", {u"tool", u"check"}},
        {u"tool  \"C:\\Program Files\\a b.txt\"\tx", {u"tool", u"C:\\Program Files\\a b.txt", u"x"}},
        {u"a\\\\b c\\d", {u"a\\\\b", u"c\\d"}},                  // backslashes without a quote stay
        {u"\"a\\\\\" b", {u"a\\", u"b"}},                         // 2n backslashes: n, the quote closes
        {u"a\\\"b", {u"a\"b"}},                                   // 2n+1: n and a literal quote
        {u"\"\" x", {u"", u"x"}},                                 // an empty quoted word counts
        {u"pre\"fix mid\"post end", {u"prefix midpost", u"end"}}, // quotes inside a word
        {u"\"open to the end", {u"open to the end"}},
        {u"D:\\ \"E:\\\\\"", {u"D:\\", u"E:\\"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(c.words, SplitCommandLine(c.line)) << std::string(c.line.begin(), c.line.end());
    }
}

}  // namespace
