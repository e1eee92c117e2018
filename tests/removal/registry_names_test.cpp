#include "removal/registry_names.h"

#include <gtest/gtest.h>

#include <string>

TEST(RegistryNamesTest, RootNamesAreMatchedExactly) {
    static const struct {
        const char16_t* name;
        int index;
    } kCases[] = {
        {u"HKEY_LOCAL_MACHINE", 0}, {u"HKEY_CURRENT_USER", 1},     {u"HKEY_USERS", 2},
        {u"HKEY_CLASSES_ROOT", 3},  {u"HKEY_CURRENT_CONFIG", 4},   {u"HKEY_PERFORMANCE_DATA", 5},
        {u"HKEY_DYN_DATA", 6},      {u"hkey_local_machine", -1},   {u"HKLM", -1},
        {u"HKEY_USERS\\x", -1},     {u"", -1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::u16string(c.name).size());
        EXPECT_EQ(c.index, RegistryRootIndex(c.name));
    }
}

TEST(RegistryNamesTest, TypeNamesIgnoreCaseAndDefaultToSz) {
    static const struct {
        const char16_t* name;
        uint32_t type;
    } kCases[] = {
        {nullptr, 1}, {u"SZ", 1}, {u"dword", 4}, {u"DWord", 4}, {u"BINARY", 3},
        {u"binary", 3}, {u"EXPAND_SZ", 1}, {u"DWORD ", 1}, {u"", 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name == nullptr ? 0 : std::u16string(c.name).size() + 1);
        EXPECT_EQ(c.type, RegistryTypeFromName(c.name));
    }
}

TEST(RegistryNamesTest, RunKeysInVisitingOrder) {
    const std::u16string base = u"Software\\Microsoft\\Windows\\CurrentVersion\\";
    const char16_t* const kLeaves[] = {u"Run", u"RunOnce", u"RunOnceEx", u"RunServices", u"RunServicesOnce",
                                       u"RunServicesOnceEx"};
    for (int i = 0; i < kRunKeyCount; ++i) EXPECT_EQ(base + kLeaves[i], kRunKeyPaths[i]);
}

TEST(RegistryNamesTest, DigitsAndDecimalScan) {
    static const struct {
        const char16_t* text;
        bool digits;
        bool scans;
        int32_t value;
    } kCases[] = {
        {u"4", true, true, 4},
        {u"+4", false, true, 4},
        {u"-12", false, true, -12},
        {u"  7x", false, true, 7},
        {u"007", true, true, 7},
        {u"4294967295", true, true, -1},  // wraps to 32 bits
        {u"", false, false, 0},
        {u"x1", false, false, 0},
        {u"-", false, false, 0},
        {u"1 2", false, true, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::u16string(c.text).size());
        EXPECT_EQ(c.digits, IsDecimalDigits(c.text));
        const auto v = ScanDecimal(c.text);
        ASSERT_EQ(c.scans, v.has_value());
        if (v) {
            EXPECT_EQ(c.value, *v);
        }
    }
}
