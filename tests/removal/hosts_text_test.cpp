#include "removal/hosts_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char16_t kLocalhost[] = u"\r\n127.0.0.1\t\tlocalhost\r\n";

TEST(HostsTextTest, DisableAllRewritesEveryLine) {
    static const struct {
        const char16_t* in;
        const char16_t* out;  // before the localhost line
    } kCases[] = {
        // Three lines: CR LF, LF, no final LF.
        {u"127.0.0.1 localhost\r\n#c\n1.2.3.4 name", u"# 127.0.0.1 localhost\r\n#c\n# 1.2.3.4 name\n"},
        // No entry at all: every line kept, each ended by LF; empty runs vanish.
        {u"# only comments\n\n\n   \t\n\r\n", u"# only comments\n   \t\n\r\n"},
        // Leading blanks follow the prefix.
        {u"  \t10.0.0.1\tHOST\n", u"# " u"  \t10.0.0.1\tHOST\n"},
        {u"", u""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::u16string(c.in).size());
        EXPECT_EQ(std::u16string(c.out) + kLocalhost, DisableAllHostEntries(c.in));
    }
}

TEST(HostsTextTest, SecondRestoreKeepsDisabledLinesAndDisablesOldLocalhost) {
    const std::u16string once = DisableAllHostEntries(u"1.2.3.4 a\n");
    EXPECT_EQ(std::u16string(u"# 1.2.3.4 a\n\r\n# 127.0.0.1\t\tlocalhost\r\n") + kLocalhost,
              DisableAllHostEntries(once));
}

TEST(HostsTextTest, DisableHostMatchesFirstTwoWordsIgnoringCase) {
    static const struct {
        const char16_t* in;
        const char16_t* host;
        const char16_t* out;  // null: no entry names the host
    } kCases[] = {
        {u"  1.2.3.4\tWWW.AV.COM\r\nx y\n", u"www.av.com", u"#   1.2.3.4\tWWW.AV.COM\r\nx y\n"},
        {u"www.av.com\n", u"WWW.av.com", u"# www.av.com\n"},  // the first word counts too
        {u"1.2.3.4 a.com www.av.com\n", u"www.av.com", nullptr},  // third word never compared
        {u"1.2.3.4\n", u"1.2.3.4x", nullptr},
        {u"1.2.3.4 \n", u"", nullptr},  // an address alone is never disabled
        {u"#1.2.3.4 www.av.com\n", u"www.av.com", nullptr},
        {u"1.2.3.4 www.av.com.evil\n", u"www.av.com", nullptr},
        {u"a b\n\n1.1.1.1 b\n", u"B", u"# a b\n# 1.1.1.1 b\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::u16string(c.in).size());
        const auto out = DisableHostEntries(c.in, c.host);
        if (c.out == nullptr) {
            EXPECT_FALSE(out.has_value());
        } else {
            ASSERT_TRUE(out.has_value());
            EXPECT_EQ(c.out, *out);
        }
    }
}

TEST(HostsTextTest, LongLinesAndWordsAreHandledWhole) {
    // A first word of 300 units is read as its first 260; the next word then
    // starts at unit 262 of it.
    const std::u16string longWord(300, u'a');
    const std::u16string line = longWord + u" host";
    EXPECT_FALSE(DisableHostEntries(line, u"host").has_value());
    EXPECT_EQ(u"# " + line + u"\n", DisableHostEntries(line, longWord.substr(0, 260)).value());
    EXPECT_EQ(u"# " + line + u"\n", DisableHostEntries(line, longWord.substr(261)).value());

    std::u16string big;
    for (int i = 0; i < 100000; ++i) big += u"0.0.0.0 ad" + std::u16string(1, u'a' + i % 26) + u".example\n";
    const std::u16string all = DisableAllHostEntries(big);
    EXPECT_EQ(big.size() + 2 * 100000 + std::u16string(kLocalhost).size(), all.size());
    const auto some = DisableHostEntries(big, u"ADZ.EXAMPLE");
    ASSERT_TRUE(some.has_value());
    EXPECT_EQ(big.size() + 2 * (100000 / 26), some->size());
}

}  // namespace
