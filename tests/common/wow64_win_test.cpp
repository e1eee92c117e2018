// The WOW64 answers and the redirection guard on the running (Wine) system:
// a 64-bit prefix has System32, SysWOW64 and, for the 32-bit program, WOW64
// with its redirection; a 32-bit prefix has none of them.
#include "common/wow64_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text16.h"
#include "support/removal_win_support.h"
#include "support/win_support.h"

namespace {

constexpr bool k32BitProgram = sizeof(void*) == 4;

bool InWin64Prefix() { return PrefixArch() == "win64"; }

std::u16string Dir(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t b[MAX_PATH] = {};
    const UINT n = query(b, MAX_PATH);
    return std::u16string(b, b + n);
}

TEST(Wow64Test, AnswersFollowThePrefixAndTheProgramsWidth) {
    ASSERT_FALSE(PrefixArch().empty()) << "run through tests/support/wine_run.sh";
    EXPECT_EQ(k32BitProgram && InWin64Prefix(), IsWow64());
    EXPECT_EQ(InWin64Prefix(), Is64BitWindows());
    const std::u16string wow64 = SystemWow64Directory();
    if (InWin64Prefix()) {
        EXPECT_TRUE(EqualsIgnoreCase(Dir(&GetWindowsDirectoryW) + u"\\SysWOW64", wow64)) << Utf16ToUtf8(wow64);
    } else {
        EXPECT_EQ(u"", wow64);
    }
}

// A file written through the guard lands in the real system folder: under
// WOW64 the 32-bit program's own view of System32 (SysWOW64) does not see
// it, the alias Sysnative does; elsewhere the guard changes nothing.
TEST(Wow64Test, GuardReachesTheRealSystemFolderAndNests) {
    const std::u16string name = u"\\tesmora-guard-" + AsciiToUtf16(std::to_string(GetCurrentProcessId())) + u".txt";
    const std::u16string system = Dir(&GetSystemDirectoryW) + name;
    {
        CFsRedirectionOff outer;
        EXPECT_EQ(IsWow64(), outer.Active());
        { CFsRedirectionOff inner; }  // an inner guard's end leaves the outer one's state
        ASSERT_TRUE(WriteBytes(system, "real"));
        EXPECT_EQ("real", ReadBytes(system));
        SetLastError(ERROR_BAD_LENGTH);
        outer.Revert();
        EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_LENGTH), GetLastError()) << "the guarded call's error is kept";
        EXPECT_FALSE(outer.Active());
    }
    if (IsWow64()) {
        EXPECT_EQ("<missing>", ReadBytes(system)) << "redirected to SysWOW64";
        EXPECT_EQ("<missing>", ReadBytes(SystemWow64Directory() + name));
        EXPECT_EQ("real", ReadBytes(Dir(&GetWindowsDirectoryW) + u"\\Sysnative" + name));
    } else {
        EXPECT_EQ("real", ReadBytes(system));
    }
    CFsRedirectionOff cleanup;
    EXPECT_TRUE(DeleteFileW(W(system)));
}

TEST(Wow64Test, RedirectionFreeNamesReachTheSameFileWithRedirectionOn) {
    const std::u16string system = Dir(&GetSystemDirectoryW), windows = Dir(&GetWindowsDirectoryW);
    const struct {
        std::u16string path, underWow64;
    } cases[] = {
        {system + u"\\drivers\\x.sys", windows + u"\\Sysnative\\drivers\\x.sys"},
        {system, windows + u"\\Sysnative"},
        {system + u"x\\y.exe", system + u"x\\y.exe"},  // only the folder itself, not a longer name
        {windows + u"\\x.exe", windows + u"\\x.exe"},
        {u"D:\\x.exe", u"D:\\x.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsWow64() ? c.underWow64 : c.path, RedirectionFreeName(c.path)) << Utf16ToUtf8(c.path);
    }
    if (!IsWow64()) return;
    // The name of a file written through the guard reaches it with redirection on.
    const std::u16string file = system + u"\\tesmora-free-" + AsciiToUtf16(std::to_string(GetCurrentProcessId()));
    {
        CFsRedirectionOff off;
        ASSERT_TRUE(WriteBytes(file, "native"));
    }
    EXPECT_EQ("native", ReadBytes(RedirectionFreeName(file)));
    EXPECT_TRUE(DeleteFileW(W(RedirectionFreeName(file))));
}

}  // namespace
