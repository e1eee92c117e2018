// RemoveFile and RenameFile on real files: sharing violations, read-only
// files, delayed moves in the registry (NT family), WININIT.INI (9x/ME), and
// the real system folder of 64-bit Windows.
#include "support/removal_win_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/text16.h"
#include "removal/reboot_flag.h"
#include "support/win_support.h"
#include "removal/file_removal_win.h"
#include "common/handles_win.h"
#include "scanner/process_api_win.h"

namespace {

// A handle that keeps `path` open for reading without FILE_SHARE_DELETE, so
// that it can be neither deleted nor renamed.
UniqueHandle HoldOpen(const std::u16string& path) {
    return UniqueHandle(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::u16string PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return u"";
    }
    UniqueKey owner(key);
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return u"";
    }
    std::u16string data(size / 2 + 1, u'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(data.data()), &size);
    for (auto& c : data) {
        if (c == 0) c = u'|';  // the multi-string's separators made visible
    }
    return data;
}

std::u16string WininitPath() {
    wchar_t dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    return std::u16string(dir, dir + n) + u"\\WININIT.INI";
}

std::string Ansi(const std::u16string& s) { return std::string(s.begin(), s.end()); }  // ASCII paths only

class FileRemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRebootRequired();
        ASSERT_NE(nullptr, CProcessApi::GetInstance());
        nineX_ = CProcessApi::GetInstance()->isWindows9x();
        ASSERT_EQ(RequestedVersion() == "win98", nineX_);
        DeleteFileW(W(WininitPath()));
    }
    void TearDown() override { DeleteFileW(W(WininitPath())); }

    CRemovalSession session_;
    CScratchFolder folder_;
    bool nineX_ = false;
};

TEST_F(FileRemovalTest, MissingPathsAndPlainDirectoriesAreLeftAlone) {
    const std::u16string dir = folder_.Path(u"dir");
    ASSERT_TRUE(CreateDirectoryW(W(dir), nullptr));
    const std::u16string missing = folder_.Path(u"missing.exe");
    for (const std::u16string& path : {dir, missing}) {
        EXPECT_TRUE(IsMissingOrDirectory(path.c_str()));
        EXPECT_EQ(RemoveFileResult::NothingDone, RemoveFile(session_.controller(), path.c_str()));
        EXPECT_EQ(RenameFileResult::NothingDone,
                  RenameFile(session_.controller(), path.c_str(), folder_.Path(u"to").c_str()));
    }
    EXPECT_TRUE(GetFileAttributesW(W(dir)) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(0u, session_.statistics().removedFiles);
    EXPECT_EQ(0u, session_.statistics().renamedFiles);
    EXPECT_FALSE(IsRebootRequired());
    EXPECT_EQ(0u, GetFileSize32(missing.c_str()));
}

TEST_F(FileRemovalTest, ReadOnlyFileIsDeletedAndCountedOnce) {
    const std::u16string path = folder_.Path(u"ro.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ-readonly"));
    EXPECT_EQ(11u, GetFileSize32(path.c_str()));
    ASSERT_TRUE(SetFileAttributesW(W(path), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(IsMissingOrDirectory(path.c_str()));
    EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), path.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(W(path)));
    EXPECT_EQ(1u, session_.statistics().removedFiles);
    EXPECT_FALSE(IsRebootRequired());
}

TEST_F(FileRemovalTest, RenameNowCountsAndMovesTheFile) {
    const std::u16string from = folder_.Path(u"a.exe"), to = folder_.Path(u"b.exe");
    ASSERT_TRUE(WriteBytes(from, "abc"));
    SetFileAttributesW(W(from), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RenameFileResult::Done, RenameFile(session_.controller(), from.c_str(), to.c_str()));
    EXPECT_EQ("<missing>", ReadBytes(from));
    EXPECT_EQ("abc", ReadBytes(to));
    EXPECT_EQ(1u, session_.statistics().renamedFiles);
    EXPECT_FALSE(IsRebootRequired());
}

TEST_F(FileRemovalTest, HeldFileIsScheduledOnceForTheNextStart) {
    const std::u16string path = folder_.Path(u"held.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ"));
    UniqueHandle hold = HoldOpen(path);
    ASSERT_TRUE(hold);
    ASSERT_FALSE(DeleteFileW(W(path)));  // the share mode really blocks deletion

    EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), path.c_str()));
    EXPECT_TRUE(IsRebootRequired());
    EXPECT_EQ(1u, session_.statistics().removedFiles);
    if (nineX_) {
        EXPECT_EQ("[rename]\r\nNUL=" + Ansi(path) + "\r\n", ReadBytes(WininitPath()));
    } else {
        EXPECT_NE(std::u16string::npos, FindIgnoreCase(PendingRenames(), path));
    }
    const std::string afterFirst = ReadBytes(WininitPath());

    // The same path in another letter case was handled already.
    std::u16string upper = path;
    for (auto& c : upper) c = FoldCase16(c);
    EXPECT_EQ(RemoveFileResult::NothingDone, RemoveFile(session_.controller(), upper.c_str()));
    EXPECT_EQ(1u, session_.statistics().removedFiles);
    EXPECT_EQ(afterFirst, ReadBytes(WininitPath()));
}

TEST_F(FileRemovalTest, HeldFileRenameIsScheduled) {
    const std::u16string from = folder_.Path(u"from.exe"), to = folder_.Path(u"to.exe");
    ASSERT_TRUE(WriteBytes(from, "MZ"));
    UniqueHandle hold = HoldOpen(from);
    ASSERT_TRUE(hold);
    EXPECT_EQ(RenameFileResult::Done, RenameFile(session_.controller(), from.c_str(), to.c_str()));
    EXPECT_TRUE(IsRebootRequired());
    EXPECT_EQ(1u, session_.statistics().renamedFiles);
    EXPECT_EQ("MZ", ReadBytes(from));
    if (nineX_) {
        EXPECT_EQ("[rename]\r\n" + Ansi(to) + "=" + Ansi(from) + "\r\n", ReadBytes(WininitPath()));
    } else {
        const std::u16string pending = PendingRenames();
        const std::size_t at = FindIgnoreCase(pending, from);
        ASSERT_NE(std::u16string::npos, at);
        EXPECT_NE(std::u16string::npos, FindIgnoreCase(pending, to, at));
    }
}

TEST_F(FileRemovalTest, WininitEntriesGoFirstIntoAnExistingSection) {
    if (!nineX_) GTEST_SKIP() << "WININIT.INI is the Windows 9x/ME deferral";
    ASSERT_TRUE(WriteBytes(WininitPath(), "[Rename]\r\nNUL=C:\\old.exe\r\n"));
    const std::u16string path = folder_.Path(u"new.exe"), to = folder_.Path(u"to.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ"));
    UniqueHandle hold = HoldOpen(path);
    ASSERT_TRUE(hold);
    EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), path.c_str()));
    EXPECT_EQ(RenameFileResult::Done, RenameFile(session_.controller(), path.c_str(), to.c_str()));
    EXPECT_EQ("[rename]\r\n" + Ansi(to) + "=" + Ansi(path) + "\r\nNUL=" + Ansi(path) + "\r\nNUL=C:\\old.exe\r\n",
              ReadBytes(WininitPath()));
}

TEST_F(FileRemovalTest, WininitThatCannotBeReadOrRewrittenIsLeftAsItWas) {
    if (!nineX_) GTEST_SKIP() << "WININIT.INI is the Windows 9x/ME deferral";
    const std::string old = "[boot]\r\nx=1";
    const std::u16string path = folder_.Path(u"held.exe"), to = folder_.Path(u"to.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ"));
    ASSERT_TRUE(WriteBytes(to, "MZ"));
    UniqueHandle hold = HoldOpen(path), holdTo = HoldOpen(to);
    ASSERT_TRUE(hold && holdTo);

    ASSERT_TRUE(WriteBytes(WininitPath(), old));
    {
        // Open without any sharing: it can be neither read nor rewritten.
        UniqueHandle locked(CreateFileW(W(WininitPath()), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        EXPECT_EQ(RemoveFileResult::Failed, RemoveFile(session_.controller(), path.c_str()));
        EXPECT_EQ(RenameFileResult::NothingDone, RenameFile(session_.controller(), path.c_str(), to.c_str()));
    }
    {
        // Shared for reading only: it is read, then refused when opened again
        // for writing.
        UniqueHandle readers(CreateFileW(W(WininitPath()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         0, nullptr));
        ASSERT_TRUE(readers);
        ASSERT_EQ(old, ReadBytes(WininitPath()));
        EXPECT_EQ(RemoveFileResult::Failed, RemoveFile(session_.controller(), to.c_str()));
        EXPECT_EQ(RenameFileResult::NothingDone, RenameFile(session_.controller(), path.c_str(), to.c_str()));
    }
    EXPECT_EQ(old, ReadBytes(WininitPath()));
    EXPECT_FALSE(IsRebootRequired());
    EXPECT_EQ(0u, session_.statistics().removedFiles);
    EXPECT_EQ(0u, session_.statistics().renamedFiles);
}

// A folder that is a link, as wine.cmake plants them (Wine shows a Unix link
// to a folder as a reparse point); empty when this run has none.
std::u16string PlantedLink(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return u"";
    return path;
}

std::u16string TempFolder() {
    wchar_t b[MAX_PATH] = {};
    const DWORD n = GetTempPathW(MAX_PATH, b);
    return std::u16string(b, b + n);  // with its final backslash
}

// A link in a folder users can write to is never followed; a link anywhere on
// the path of a deferred operation stops it (the next start resolves it anew).
TEST_F(FileRemovalTest, LinksOnThePathAreNotFollowed) {
    if (nineX_) GTEST_SKIP() << "9x/ME file systems have no links";
    const std::u16string inTemp = PlantedLink(TempFolder() + u"tesmora-linked");
    const std::u16string onDrive = PlantedLink(u"D:\\linked");
    if (inTemp.empty() || onDrive.empty()) GTEST_SKIP() << "run by wine.* with the links it plants";

    // Under the temporary folder: neither deleted nor renamed, held or not.
    const std::u16string victim = inTemp + u"\\victim.exe", other = inTemp + u"\\other.exe";
    ASSERT_TRUE(WriteBytes(victim, "kept"));
    ASSERT_TRUE(WriteBytes(other, "kept too"));
    EXPECT_EQ(RemoveFileResult::Failed, RemoveFile(session_.controller(), victim.c_str()));
    EXPECT_EQ(RenameFileResult::NothingDone,
              RenameFile(session_.controller(), other.c_str(), (TempFolder() + u"renamed.exe").c_str()));
    {
        UniqueHandle hold = HoldOpen(other);
        ASSERT_TRUE(hold);
        EXPECT_EQ(RemoveFileResult::Failed, RemoveFile(session_.controller(), other.c_str()));
    }
    EXPECT_EQ("kept", ReadBytes(victim));
    EXPECT_EQ("kept too", ReadBytes(other));

    // Elsewhere a file behind a link is deleted at once, but never deferred.
    const std::u16string now = onDrive + u"\\now.exe", held = onDrive + u"\\held.exe";
    ASSERT_TRUE(WriteBytes(now, "MZ"));
    ASSERT_TRUE(WriteBytes(held, "MZ"));
    EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), now.c_str()));
    EXPECT_EQ("<missing>", ReadBytes(now));
    UniqueHandle hold = HoldOpen(held);
    ASSERT_TRUE(hold);
    EXPECT_EQ(RemoveFileResult::Failed, RemoveFile(session_.controller(), held.c_str()));
    EXPECT_EQ(RenameFileResult::NothingDone,
              RenameFile(session_.controller(), held.c_str(), (onDrive + u"\\to.exe").c_str()));
    EXPECT_EQ(std::u16string::npos, FindIgnoreCase(PendingRenames(), u"linked"));
    EXPECT_FALSE(IsRebootRequired());
    EXPECT_EQ(1u, session_.statistics().removedFiles);
    EXPECT_EQ(0u, session_.statistics().renamedFiles);
    hold.reset();
    DeleteFileW(W(victim));
    DeleteFileW(W(other));
    DeleteFileW(W(held));
}

// The system folders as the test reaches them itself, without the program's
// guard: under WOW64 the real System32 through its alias Sysnative.
struct SystemFolders {
    SystemFolders() {
        wchar_t b[MAX_PATH] = {};
        GetSystemDirectoryW(b, MAX_PATH);
        system.assign(b, b + wcslen(b));
        GetWindowsDirectoryW(b, MAX_PATH);
        const std::u16string windows(b, b + wcslen(b));
        const bool win64 = PrefixArch() == "win64";
        realSystem = win64 && sizeof(void*) == 4 ? windows + u"\\Sysnative" : system;
        if (win64) wow64 = windows + u"\\SysWOW64";
    }
    std::u16string system;      // as the program names it
    std::u16string realSystem;  // the same folder, as the test reaches it
    std::u16string wow64;       // SysWOW64 in a 64-bit prefix
};

// A file of the system folder is the real one: under WOW64 the 32-bit
// program acts on System32 itself, never on its namesake in SysWOW64.
TEST_F(FileRemovalTest, SystemFolderPathsNameTheRealSystemFolder) {
    const SystemFolders folders;
    const std::u16string tag = AsciiToUtf16(std::to_string(GetCurrentProcessId()));
    const std::u16string removed = u"\\tesmora-rm-" + tag + u".exe", from = u"\\tesmora-from-" + tag + u".exe",
                         to = u"\\tesmora-to-" + tag + u".exe";
    for (const std::u16string& name : {removed, from}) {
        ASSERT_TRUE(WriteBytes(folders.realSystem + name, "real"));
        if (!folders.wow64.empty()) {
            ASSERT_TRUE(WriteBytes(folders.wow64 + name, "namesake"));
        }
    }

    EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), (folders.system + removed).c_str()));
    EXPECT_EQ("<missing>", ReadBytes(folders.realSystem + removed));
    EXPECT_EQ(RenameFileResult::Done,
              RenameFile(session_.controller(), (folders.system + from).c_str(), (folders.system + to).c_str()));
    EXPECT_EQ("<missing>", ReadBytes(folders.realSystem + from));
    EXPECT_EQ("real", ReadBytes(folders.realSystem + to));
    EXPECT_EQ(1u, session_.statistics().removedFiles);
    EXPECT_EQ(1u, session_.statistics().renamedFiles);
    EXPECT_FALSE(IsRebootRequired());
    if (!folders.wow64.empty()) {
        EXPECT_EQ("namesake", ReadBytes(folders.wow64 + removed));
        EXPECT_EQ("namesake", ReadBytes(folders.wow64 + from));
        EXPECT_EQ("<missing>", ReadBytes(folders.wow64 + to));
        // SysWOW64 is reached by its own name.
        EXPECT_EQ(RemoveFileResult::Done, RemoveFile(session_.controller(), (folders.wow64 + removed).c_str()));
        EXPECT_EQ("<missing>", ReadBytes(folders.wow64 + removed));
        DeleteFileW(W(folders.wow64 + from));
    }
    DeleteFileW(W(folders.realSystem + to));
}

}  // namespace
