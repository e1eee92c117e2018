#include "script/expansion.h"

#include <gtest/gtest.h>

#include "script/fixed_folders.h"

namespace {

TEST(RegistryRootExpansionTest, ShortFormsByFirstFourCharacters) {
    static const struct {
        const char16_t* in;
        const char16_t* out;
    } kCases[] = {
        {u"hklm\\Software\\X", u"HKEY_LOCAL_MACHINE\\Software\\X"},
        {u"HKCUinfo.exe", u"HKEY_CURRENT_USERinfo.exe"},
        {u"HkCr\\.exe", u"HKEY_CLASSES_ROOT\\.exe"},
        {u"HKUS\\S-1-5-18", u"HKEY_USERS\\S-1-5-18"},
        {u"hkcc", u"HKEY_CURRENT_CONFIG"},
        {u"HKEY_LOCAL_MACHINE\\Software", u"HKEY_LOCAL_MACHINE\\Software"},
        {u"hkey_local_machine\\Software", u"hkey_local_machine\\Software"},
        {u"HKC", u"HKC"},
        {u"", u""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.out, ExpandRegistryRoot(c.in));
    }
}

TEST(PathVariableExpansionTest, ReplacesEveryOccurrenceInAnyCase) {
    CFixedFolders folders;
    folders.Set(u"WINDIR", u"D:\\WIN");
    folders.Set(u"SYSDIR", u"D:\\WIN\\%WINDIR%");  // inserted text is not expanded again
    static const struct {
        const char16_t* in;
        const char16_t* out;
    } kCases[] = {
        {u"%windir%\\a.exe", u"D:\\WIN\\a.exe"},
        {u"%WINDIR%\\a;%WINDIR%\\b", u"D:\\WIN\\a;D:\\WIN\\b"},
        {u"%WinDir%%windir%", u"D:\\WIND:\\WIN"},
        {u"%SYSDIR%", u"D:\\WIN\\D:\\WIN"},
        {u"%PROGRAM_FILES%\\x", u"C:\\Program Files\\x"},
        {u"%home%|%TEMPDIR%|%Cookies%", u"C:\\Documents and Settings\\User|C:\\Documents and Settings\\User\\Local "
                                        u"Settings\\Temp|C:\\Documents and Settings\\User\\Cookies"},
        {u"%TEMPORARY_INTERNET_FILES%",
         u"C:\\Documents and Settings\\User\\Local Settings\\Temporary Internet Files"},
        {u"%infected_file%", u"%infected_file%"},
        {u"%INFECTED_PROCESSES%", u"%INFECTED_PROCESSES%"},
        {u"%WINDIR", u"%WINDIR"},
    };
    for (const auto& c : kCases) {
        std::u16string word = c.in;
        EXPECT_TRUE(ExpandPathVariables(word, folders));
        EXPECT_EQ(c.out, word);
    }
}

TEST(PathVariableExpansionTest, EmptyValueFailsOnlyWhenUsed) {
    CFixedFolders folders;
    folders.Set(u"COOKIES", u"");
    std::u16string word = u"%WINDIR%\\%cookies%\\x";
    EXPECT_FALSE(ExpandPathVariables(word, folders));
    EXPECT_EQ(u"%WINDIR%\\%cookies%\\x", word);  // unchanged on failure
    word = u"%WINDIR%\\x";
    EXPECT_TRUE(ExpandPathVariables(word, folders));
    EXPECT_EQ(u"C:\\WINDOWS\\x", word);
}

}  // namespace
