// The hosts and INI primitives on the real files of the Wine prefix: the
// hosts file of the version's family, and system.ini and win.ini copies
// edited by Wine's own profile functions.
#include "support/removal_win_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/win_support.h"
#include "common/handles_win.h"
#include "removal/hosts_ini_win.h"
#include "scanner/process_api_win.h"

namespace {

std::u16string Folder(bool windows) {
    wchar_t dir[MAX_PATH];
    const UINT n = windows ? GetWindowsDirectoryW(dir, MAX_PATH) : GetSystemDirectoryW(dir, MAX_PATH);
    return std::u16string(dir, dir + n);
}

// Keeps a file's content (or its absence) and puts it back at the end.
class CSavedFile {
public:
    explicit CSavedFile(std::u16string path) : path_(std::move(path)), old_(ReadBytes(path_)) {}
    ~CSavedFile() {
        if (old_ == "<missing>") {
            DeleteFileW(W(path_));
        } else {
            WriteBytes(path_, old_);
        }
    }
    const std::u16string& path() const { return path_; }

private:
    std::u16string path_;
    std::string old_;
};

class HostsTest : public ::testing::Test {
protected:
    HostsTest()
        : nineX_(RequestedVersion() == "win98"),
          dir_(nineX_ ? Folder(true) : Folder(false) + u"\\drivers\\etc"),
          hosts_(dir_ + u"\\hosts"),
          backup_(dir_ + u"\\hosts.bak") {}
    void SetUp() override {
        ASSERT_EQ(nineX_, CProcessApi::GetInstance()->isWindows9x());
        CreateDirectoryW(W(Folder(false) + u"\\drivers"), nullptr);
        CreateDirectoryW(W(dir_), nullptr);
        DeleteFileW(W(backup_.path()));
    }
    uint32_t changes() { return session_.statistics().hostsChanges; }

    bool nineX_;
    std::u16string dir_;
    CSavedFile hosts_, backup_;
    CRemovalSession session_;
};

// Whether a rewrite left its temporary file (~tsm*.tmp) in `dir`.
bool TemporaryLeftIn(const std::u16string& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(W(dir + u"\\~tsm*"), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

constexpr char kLocalhost[] = "\r\n127.0.0.1\t\tlocalhost\r\n";

TEST_F(HostsTest, RestoreBacksUpAndDisablesEveryEntry) {
    const std::string old = "127.0.0.1 localhost\r\n#c\n1.2.3.4 name";
    ASSERT_TRUE(WriteBytes(hosts_.path(), old));
    EXPECT_EQ(HostsResult::Rewritten, RestoreHostsFile(session_.controller()));
    const std::string once = "# 127.0.0.1 localhost\r\n#c\n# 1.2.3.4 name\n" + std::string(kLocalhost);
    EXPECT_EQ(once, ReadBytes(hosts_.path()));
    EXPECT_EQ(old, ReadBytes(backup_.path()));
    EXPECT_EQ(1u, changes());

    // The backup stays the user's own file; the second pass works on the first one's result.
    EXPECT_EQ(HostsResult::Rewritten, RestoreHostsFile(session_.controller()));
    EXPECT_EQ(old, ReadBytes(backup_.path()));
    EXPECT_EQ("# 127.0.0.1 localhost\r\n#c\n# 1.2.3.4 name\n\r\n# 127.0.0.1\t\tlocalhost\r\n" + std::string(kLocalhost),
              ReadBytes(hosts_.path()));
}

TEST_F(HostsTest, UnusableHostsFilesAreLeftUntouched) {
    const std::string utf16("\xFF\xFE" "1\0.\0" "2\0 \0a\0\n\0", 12);
    for (const std::string& content : {std::string(), utf16}) {
        SCOPED_TRACE(content.size());
        ASSERT_TRUE(WriteBytes(hosts_.path(), content));
        EXPECT_EQ(HostsResult::Failed, RestoreHostsFile(session_.controller()));
        EXPECT_EQ(HostsResult::Failed, RemoveFromHostsFile(session_.controller(), u"a"));
        EXPECT_EQ(content, ReadBytes(hosts_.path()));
        EXPECT_EQ("<missing>", ReadBytes(backup_.path()));
    }
    DeleteFileW(W(hosts_.path()));
    EXPECT_EQ(HostsResult::Failed, RestoreHostsFile(session_.controller()));
    EXPECT_EQ(HostsResult::Failed, RemoveFromHostsFile(session_.controller(), u"a"));
    EXPECT_EQ("<missing>", ReadBytes(hosts_.path()));
    EXPECT_EQ(0u, changes());
}

TEST_F(HostsTest, BackupThatCannotBeWrittenStopsBeforeTheHostsFile) {
    const std::string old = "1.2.3.4 a\n";
    ASSERT_TRUE(WriteBytes(hosts_.path(), old));
    ASSERT_TRUE(CreateDirectoryW(W(backup_.path()), nullptr));  // a folder in the backup's place
    EXPECT_EQ(HostsResult::Failed, RestoreHostsFile(session_.controller()));
    RemoveDirectoryW(W(backup_.path()));
    EXPECT_EQ(old, ReadBytes(hosts_.path()));
    EXPECT_EQ(0u, changes());
}

TEST_F(HostsTest, RemoveFromHostsDisablesOnlyLinesNamingTheHost) {
    const std::string old = "  1.2.3.4\tWWW.AV.COM\r\n1.2.3.4 a.com www.av.com\n5.6.7.8\n";
    ASSERT_TRUE(WriteBytes(hosts_.path(), old));
    EXPECT_EQ(HostsResult::NoEntry, RemoveFromHostsFile(session_.controller(), u"other.com"));
    EXPECT_EQ(old, ReadBytes(hosts_.path()));
    EXPECT_EQ(0u, changes());
    EXPECT_EQ(HostsResult::Rewritten, RemoveFromHostsFile(session_.controller(), u"www.av.com"));
    EXPECT_EQ("#   1.2.3.4\tWWW.AV.COM\r\n1.2.3.4 a.com www.av.com\n5.6.7.8\n", ReadBytes(hosts_.path()));
    EXPECT_EQ("<missing>", ReadBytes(backup_.path()));
    EXPECT_EQ(1u, changes());
    EXPECT_EQ(HostsResult::Failed, RemoveFromHostsFile(session_.controller(), u"\u4E2D.com"));  // no ANSI form
}

TEST_F(HostsTest, LargeBlockListsAreRewrittenWhole) {
    std::string big;
    for (int i = 0; i < 60000; ++i) big += "0.0.0.0 ad" + std::to_string(i) + ".example.com\n";
    big += "0.0.0.0 " + std::string(400, 'x') + "\n";
    ASSERT_GT(big.size(), 1u << 20);
    ASSERT_TRUE(WriteBytes(hosts_.path(), big));
    EXPECT_EQ(HostsResult::Rewritten, RemoveFromHostsFile(session_.controller(), u"AD59999.example.com"));
    const std::string after = ReadBytes(hosts_.path());
    EXPECT_EQ(big.size() + 2, after.size());
    EXPECT_NE(std::string::npos, after.find("\n# 0.0.0.0 ad59999.example.com\n"));
    EXPECT_EQ(HostsResult::Rewritten, RestoreHostsFile(session_.controller()));
    EXPECT_EQ(after, ReadBytes(backup_.path()));  // no backup before: this run's file is the first
    EXPECT_EQ(after.size() + 2 * 60000 + std::string(kLocalhost).size(), ReadBytes(hosts_.path()).size());
}

// Malware marks the file hidden, system and read-only to keep it: it is still
// rewritten, keeps those attributes, and no temporary file stays beside it.
TEST_F(HostsTest, ProtectedHostsFileIsRewrittenAndKeepsItsAttributes) {
    ASSERT_TRUE(WriteBytes(hosts_.path(), "1.2.3.4 www.av.com\r\n"));
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    ASSERT_TRUE(SetFileAttributesW(W(hosts_.path()), kept));
    EXPECT_EQ(HostsResult::Rewritten, RemoveFromHostsFile(session_.controller(), u"www.av.com"));
    EXPECT_EQ(kept, GetFileAttributesW(W(hosts_.path())) & kept);
    SetFileAttributesW(W(hosts_.path()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("# 1.2.3.4 www.av.com\r\n", ReadBytes(hosts_.path()));
    EXPECT_FALSE(TemporaryLeftIn(dir_));
}

// With the hosts folder on a nearly full disk (TESMORA_FULL_DISK names the
// mounted folder that stands in for it), the rewrite fails part way: the old
// file stays byte for byte and nothing is left beside it.
TEST_F(HostsTest, RewriteThatRunsOutOfSpaceLeavesTheOldFile) {
    if (std::getenv("TESMORA_FULL_DISK") == nullptr) GTEST_SKIP() << "run by wine.full_disk on a small tmpfs";
    std::string old;
    for (int i = 0; old.size() < 12000; ++i) old += "0.0.0.0 ad" + std::to_string(i) + ".example.com\n";
    ASSERT_TRUE(WriteBytes(hosts_.path(), old));
    // Fill what is left of the disk.
    const std::u16string filler = dir_ + u"\\filler";
    ASSERT_TRUE(FillDrive(std::wstring(filler.begin(), filler.end())));
    EXPECT_EQ(HostsResult::Failed, RestoreHostsFile(session_.controller()));
    EXPECT_EQ(HostsResult::Failed, RemoveFromHostsFile(session_.controller(), u"ad7.example.com"));
    EXPECT_EQ(old, ReadBytes(hosts_.path()));
    EXPECT_EQ("<missing>", ReadBytes(backup_.path()));
    EXPECT_EQ(0u, changes());
    DeleteFileW(W(filler));
    EXPECT_FALSE(TemporaryLeftIn(dir_));
}

class IniTest : public ::testing::Test {
protected:
    IniTest() : systemIni_(Folder(true) + u"\\system.ini"), winIni_(Folder(true) + u"\\win.ini") {}
    uint32_t& changes() { return session_.statistics().iniChanges; }

    CSavedFile systemIni_, winIni_;
    CRemovalSession session_;
};

TEST_F(IniTest, CleansEntriesNamingTheTextInTheirValue) {
    ASSERT_TRUE(WriteBytes(systemIni_.path(),
                           "[boot]\r\nShell=Explorer.exe evil.exe\r\nevil.exe=1\r\n[drivers]\r\nwave=mmdrv.dll\r\n"));
    ASSERT_TRUE(WriteBytes(winIni_.path(), "[windows]\r\nrun=C:\\WINDOWS\\EVIL.EXE\r\nload=\r\n"));
    EXPECT_EQ(IniResult::Changed, CleanIniFile(session_.controller(), u"evil.exe", 1));
    EXPECT_EQ(1u, changes());
    wchar_t value[64];
    const std::wstring sys(systemIni_.path().begin(), systemIni_.path().end());
    GetPrivateProfileStringW(L"boot", L"shell", L"<none>", value, 64, sys.c_str());
    EXPECT_STREQ(L"explorer.exe", value);
    GetPrivateProfileStringW(L"boot", L"evil.exe", L"<none>", value, 64, sys.c_str());
    EXPECT_STREQ(L"1", value);  // named only in its key

    EXPECT_EQ(IniResult::Changed, CleanIniFile(session_.controller(), u"Evil.Exe", 2));
    const std::wstring win(winIni_.path().begin(), winIni_.path().end());
    GetPrivateProfileStringW(L"windows", L"run", L"<none>", value, 64, win.c_str());
    EXPECT_STREQ(L"", value);  // the key stays with an empty value

    changes() = 0;
    EXPECT_EQ(IniResult::NotChanged, CleanIniFile(session_.controller(), u"evil.exe", 2));  // nothing left
    EXPECT_EQ(IniResult::NotChanged, CleanIniFile(session_.controller(), u"evil.exe", 3));
    EXPECT_EQ(IniResult::NotChanged, CleanIniFile(session_.controller(), u"", 1));
    DeleteFileW(W(winIni_.path()));
    EXPECT_EQ(IniResult::NotChanged, CleanIniFile(session_.controller(), u"mmdrv", 2));
    EXPECT_EQ(0u, changes());
}

}  // namespace
