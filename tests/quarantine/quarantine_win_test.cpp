// The quarantine on real files: Keep, restore, the refusals, and the folder
// checks, on every Windows the wine.* runs stand for.
#include "quarantine/quarantine_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "common/text16.h"
#include "common/windows_version_win.h"
#include "quarantine/quarantine_store.h"
#include "quarantine/sha256.h"
#include "quarantine/stored_entry.h"
#include "removal/file_guard_win.h"
#include "support/pe_fixture.h"
#include "removal/path_folders.h"
#include "support/removal_win_support.h"
#include "support/win_support.h"

namespace {

std::string Sample() {
    FixturePlan plan;
    plan.runnable = true;
    plan.sections.push_back(FixtureSection{".data", FixtureBytes(9, 70000)});
    const std::vector<uint8_t> pe = BuildPe(plan).bytes;
    return std::string(pe.begin(), pe.end());
}

// The names in `folder`, sorted; "." and ".." left out.
std::vector<std::u16string> Names(const std::u16string& folder) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(W(folder + u"\\*"), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(data.cFileName));
        if (name != u"." && name != u"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::u16string& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

std::u16string TempFolder() {
    wchar_t b[MAX_PATH] = {};
    const DWORD n = GetTempPathW(MAX_PATH, b);
    return std::u16string(b, b + n);  // with its final backslash
}

class QuarantineWinTest : public ::testing::Test {
protected:
    std::u16string Root() const { return scratch_.Path(u"Tesmora"); }

    CScratchFolder scratch_;
};

TEST_F(QuarantineWinTest, KeepThenRestoreByteForByte) {
    const std::string content = Sample();
    const std::u16string path = scratch_.Path(u"sample \u00e9.exe");
    ASSERT_TRUE(WriteBytes(path, content));
    CWindowsQuarantine quarantine(Root());
    EXPECT_EQ(Root() + u"\\Quarantine", quarantine.Folder());

    const QuarantineOutcome kept = quarantine.Keep(path, u"W32/Stanit.A", u"delete");
    ASSERT_EQ(QuarantineOutcome::kKept, kept.kind);
    EXPECT_TRUE(IsValidEntryId(kept.entry.id));
    EXPECT_EQ(path, kept.entry.originalPath);
    EXPECT_EQ(u"W32/Stanit.A", kept.entry.family);
    EXPECT_EQ(u"delete", kept.entry.action);
    EXPECT_EQ(content.size(), kept.entry.size);
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()), content.size()), kept.entry.sha256);
    EXPECT_EQ(20u, kept.entry.time.size());
    EXPECT_EQ(content, ReadBytes(path));  // Keep only copies
    // The entry alone in its folder, under its final name, no MZ at its start.
    const std::u16string stored = quarantine.Folder() + u"\\" + EntryFileName(kept.entry.id);
    EXPECT_EQ(std::vector<std::u16string>{EntryFileName(kept.entry.id)}, Names(quarantine.Folder()));
    const std::string storedBytes = ReadBytes(stored);
    EXPECT_NE("MZ", storedBytes.substr(0, 2));
    EXPECT_EQ(std::string::npos, storedBytes.find(content.substr(0, 64)));

    ASSERT_TRUE(DeleteFileW(W(path)));
    const std::unique_ptr<CQuarantineFiles> files = OpenQuarantineFiles(quarantine.Folder());
    QuarantineListing listing;
    ASSERT_TRUE(ListQuarantine(*files, listing));
    ASSERT_EQ(1u, listing.entries.size());
    EXPECT_EQ(kept.entry.sha256, listing.entries[0].sha256);
    QuarantineEntry restored;
    ASSERT_EQ(RestoreResult::kRestored, RestoreQuarantined(*files, kept.entry.id, restored));
    EXPECT_EQ(content, ReadBytes(path));
    EXPECT_TRUE(Names(quarantine.Folder()).empty());
    // Nothing but the restored file and the quarantine beside it.
    EXPECT_EQ((std::vector<std::u16string>{u"Tesmora", u"sample \u00e9.exe"}), Names(scratch_.root()));
}

TEST_F(QuarantineWinTest, RestoreRefusesWhenSomethingIsThere) {
    const std::u16string path = scratch_.Path(u"sample.exe");
    ASSERT_TRUE(WriteBytes(path, Sample()));
    CWindowsQuarantine quarantine(Root());
    const QuarantineOutcome kept = quarantine.Keep(path, u"Sober.P", u"rename-over");
    ASSERT_EQ(QuarantineOutcome::kKept, kept.kind);
    const std::u16string stored = quarantine.Folder() + u"\\" + EntryFileName(kept.entry.id);
    const std::string storedBytes = ReadBytes(stored);
    ASSERT_TRUE(WriteBytes(path, "the file now there"));
    const std::unique_ptr<CQuarantineFiles> files = OpenQuarantineFiles(quarantine.Folder());
    QuarantineEntry entry;
    EXPECT_EQ(RestoreResult::kExists, RestoreQuarantined(*files, kept.entry.id, entry));
    EXPECT_EQ("the file now there", ReadBytes(path));
    EXPECT_EQ(storedBytes, ReadBytes(stored));
    EXPECT_EQ((std::vector<std::u16string>{u"Tesmora", u"sample.exe"}), Names(scratch_.root()));
    // A folder where the file was is refused alike.
    ASSERT_TRUE(DeleteFileW(W(path)));
    ASSERT_TRUE(CreateDirectoryW(W(path), nullptr));
    EXPECT_EQ(RestoreResult::kExists, RestoreQuarantined(*files, kept.entry.id, entry));
    EXPECT_EQ(storedBytes, ReadBytes(stored));
    EXPECT_TRUE(Names(path).empty());
    RemoveDirectoryW(W(path));
}

// D:\linked is a link every Windows test run plants (a Unix link, which Wine
// shows as a reparse point): a restore never writes through it.
TEST_F(QuarantineWinTest, RestoreNeverGoesThroughALink) {
    if (IsWindows9xFamily()) GTEST_SKIP() << "9x/ME has no links";
    const DWORD attributes = GetFileAttributesW(L"D:\\linked");
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "no link planted at D:\\linked";
    }
    ASSERT_TRUE(CreateDirectoryW(W(Root()), nullptr));
    const std::unique_ptr<CQuarantineFiles> files = OpenQuarantineFiles(Root() + u"\\Quarantine");
    const std::string content = Sample();
    const std::optional<QuarantineEntry> kept =
        KeepBytes(*files, std::vector<uint8_t>(content.begin(), content.end()), u"D:\\linked\\sample.exe",
                  u"Sober.P", u"delete", UtcTime{2026, 12, 11, 14, 35, 1}, u"0000abcd");
    ASSERT_TRUE(kept.has_value());
    QuarantineEntry entry;
    EXPECT_EQ(RestoreResult::kLinked, RestoreQuarantined(*files, kept->id, entry));
    EXPECT_FALSE(Exists(u"D:\\linked\\sample.exe"));
    EXPECT_TRUE(Exists(Root() + u"\\Quarantine\\" + EntryFileName(kept->id)));
}

TEST_F(QuarantineWinTest, NothingToKeep) {
    CWindowsQuarantine quarantine(Root());
    static const char16_t* const kAbsent[] = {u"missing.exe", u"no-folder\\missing.exe", u""};
    for (const char16_t* name : kAbsent) {
        const std::u16string path = *name != 0 ? scratch_.Path(name) : scratch_.root();  // "": a folder
        SCOPED_TRACE(Utf16ToUtf8(path));
        EXPECT_EQ(QuarantineOutcome::kAbsent, quarantine.Keep(path, u"W32/Stanit.A", u"delete").kind);
    }
    EXPECT_FALSE(Exists(Root()));  // nothing made for nothing kept
}

TEST_F(QuarantineWinTest, RefusedFolders) {
    const std::u16string path = scratch_.Path(u"sample.exe");
    ASSERT_TRUE(WriteBytes(path, Sample()));
    // The quarantine folder is a file.
    ASSERT_TRUE(CreateDirectoryW(W(Root()), nullptr));
    ASSERT_TRUE(WriteBytes(Root() + u"\\Quarantine", "a file"));
    EXPECT_EQ(QuarantineOutcome::kMissing, CWindowsQuarantine(Root()).Keep(path, u"F", u"delete").kind);
    EXPECT_EQ(std::vector<std::u16string>{u"Quarantine"}, Names(Root()));
    EXPECT_EQ("a file", ReadBytes(Root() + u"\\Quarantine"));
    // The program's folder is a file.
    const std::u16string fileRoot = scratch_.Path(u"root-file");
    ASSERT_TRUE(WriteBytes(fileRoot, "a file"));
    EXPECT_EQ(QuarantineOutcome::kMissing, CWindowsQuarantine(fileRoot).Keep(path, u"F", u"delete").kind);
    // The program's folder unknown.
    EXPECT_EQ(QuarantineOutcome::kMissing, CWindowsQuarantine(u"").Keep(path, u"F", u"delete").kind);
    // A family the record cannot carry.
    EXPECT_EQ(QuarantineOutcome::kMissing,
              CWindowsQuarantine(scratch_.Path(u"other")).Keep(path, u"F\tG", u"delete").kind);
    EXPECT_TRUE(Names(scratch_.Path(u"other\\Quarantine")).empty());
    // Links planted by the wine.* runs, as the program's folder.
    if (IsWindows9xFamily()) return;
    for (const std::u16string& link : {TempFolder() + u"tesmora-linked", std::u16string(u"D:\\linked")}) {
        const DWORD attributes = GetFileAttributesW(W(link));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) continue;
        SCOPED_TRACE(Utf16ToUtf8(link));
        EXPECT_EQ(QuarantineOutcome::kMissing, CWindowsQuarantine(link).Keep(path, u"F", u"delete").kind);
        EXPECT_FALSE(Exists(link + u"\\Quarantine"));
    }
}

// Only the file the scan found is kept: another file under its path is not.
TEST_F(QuarantineWinTest, KeepsOnlyTheDetectedFile) {
    if (IsWindows9xFamily()) GTEST_SKIP() << "9x/ME has no file identity";
    const std::u16string path = scratch_.Path(u"sample.exe"), other = scratch_.Path(u"other.exe");
    ASSERT_TRUE(WriteBytes(path, Sample()));
    ASSERT_TRUE(WriteBytes(other, "other"));
    UniqueHandle otherHandle(CreateFileW(W(other), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    const std::optional<FileIdentity> otherIdentity = IdentityOf(otherHandle.get());
    ASSERT_TRUE(otherIdentity);
    CWindowsQuarantine quarantine(Root());
    {
        CDetectedFileScope scope(path, otherIdentity);
        EXPECT_EQ(QuarantineOutcome::kMissing, quarantine.Keep(path, u"F", u"delete").kind);
    }
    EXPECT_TRUE(Names(quarantine.Folder()).empty());
    UniqueHandle own(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    CDetectedFileScope scope(path, IdentityOf(own.get()));
    own.reset();
    EXPECT_EQ(QuarantineOutcome::kKept, quarantine.Keep(path, u"F", u"delete").kind);
}

TEST_F(QuarantineWinTest, DiscardRemovesTheEntry) {
    const std::u16string path = scratch_.Path(u"sample.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ and a little more"));
    CWindowsQuarantine quarantine(Root());
    const QuarantineOutcome first = quarantine.Keep(path, u"F", u"repair");
    const QuarantineOutcome second = quarantine.Keep(path, u"F", u"repair");
    ASSERT_EQ(QuarantineOutcome::kKept, first.kind);
    ASSERT_EQ(QuarantineOutcome::kKept, second.kind);
    ASSERT_NE(first.entry.id, second.entry.id);
    quarantine.Discard(first.entry.id);
    quarantine.Discard(u"..\\..\\sample");  // no entry name: nothing happens
    EXPECT_EQ(std::vector<std::u16string>{EntryFileName(second.entry.id)}, Names(quarantine.Folder()));
    EXPECT_EQ("MZ and a little more", ReadBytes(path));
}

// By default the entries go to %WINDIR%\Tesmora\Quarantine, made when missing.
TEST_F(QuarantineWinTest, DefaultFolderUnderWindows) {
    wchar_t windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::u16string root = std::u16string(windows, windows + n) + u"\\Tesmora";
    const bool hadRoot = Exists(root);
    CWindowsQuarantine quarantine;
    EXPECT_EQ(root + u"\\Quarantine", quarantine.Folder());
    EXPECT_EQ(quarantine.Folder(), DefaultQuarantineFolder());
    const std::u16string path = scratch_.Path(u"sample.exe");
    ASSERT_TRUE(WriteBytes(path, "MZ"));
    const QuarantineOutcome kept = quarantine.Keep(path, u"F", u"delete");
    ASSERT_EQ(QuarantineOutcome::kKept, kept.kind);
    EXPECT_TRUE(Exists(quarantine.Folder() + u"\\" + EntryFileName(kept.entry.id)));
    quarantine.Discard(kept.entry.id);
    EXPECT_FALSE(Exists(quarantine.Folder() + u"\\" + EntryFileName(kept.entry.id)));
    if (!hadRoot) {
        RemoveDirectoryW(W(quarantine.Folder()));
        RemoveDirectoryW(W(root));
    }
}

// The small drive TESMORA_FULL_DISK names ("Q:"), or empty outside wine.quarantine_full_disk.
std::u16string SmallDrive() {
    const char* drive = std::getenv("TESMORA_FULL_DISK");
    return drive != nullptr ? Utf8ToUtf16(drive) : std::u16string();
}

// The quarantine's root and folder, made as Keep would; removed again after.
bool MakeFolders(const CWindowsQuarantine& quarantine) {
    const std::u16string& folder = quarantine.Folder();
    return CreateDirectoryW(W(ContainingFolder(folder)), nullptr) && CreateDirectoryW(W(folder), nullptr);
}
void RemoveFolders(const CWindowsQuarantine& quarantine) {
    RemoveDirectoryW(W(quarantine.Folder()));
    RemoveDirectoryW(W(ContainingFolder(quarantine.Folder())));
}

// With the quarantine on a nearly full drive (TESMORA_FULL_DISK names it), the
// copy cannot be written: kMissing, and neither the entry nor its temporary is
// left; with room again the same file is kept.
TEST_F(QuarantineWinTest, KeepOnAFullDiskLeavesNothing) {
    const std::u16string drive = SmallDrive();
    if (drive.empty()) GTEST_SKIP() << "run by wine.quarantine_full_disk on a small tmpfs";
    CWindowsQuarantine quarantine(drive + u"\\Tesmora");
    ASSERT_TRUE(MakeFolders(quarantine));
    const std::u16string path = scratch_.Path(u"sample.exe");
    const std::string content = Sample();
    ASSERT_TRUE(WriteBytes(path, content));
    const std::u16string filler = drive + u"\\filler";
    ASSERT_TRUE(FillDrive(std::wstring(filler.begin(), filler.end())));
    EXPECT_EQ(QuarantineOutcome::kMissing, quarantine.Keep(path, u"W32/Stanit.A", u"delete").kind);
    EXPECT_TRUE(Names(quarantine.Folder()).empty());
    EXPECT_EQ(content, ReadBytes(path));
    ASSERT_TRUE(DeleteFileW(W(filler)));
    const QuarantineOutcome kept = quarantine.Keep(path, u"W32/Stanit.A", u"delete");
    EXPECT_EQ(QuarantineOutcome::kKept, kept.kind);
    quarantine.Discard(kept.entry.id);
    RemoveFolders(quarantine);
}

// A copy that would leave the drive less than its reserve (a twentieth of
// this small drive) is not made, though it would fit.
TEST_F(QuarantineWinTest, KeepLeavesTheDriveAReserve) {
    const std::u16string drive = SmallDrive();
    if (drive.empty()) GTEST_SKIP() << "run by wine.quarantine_full_disk on a small tmpfs";
    CWindowsQuarantine quarantine(drive + u"\\Tesmora");
    ASSERT_TRUE(MakeFolders(quarantine));
    const std::u16string path = scratch_.Path(u"sample.exe");
    const std::string content = Sample();
    ASSERT_TRUE(WriteBytes(path, content));
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(W(drive + u"\\"), &available, &total, &free));
    // Room for the copy and its header, and less than a twentieth more.
    const uint64_t leave = content.size() + 8192;
    ASSERT_LT(leave + 8192, available.QuadPart);
    ASSERT_LT(8192u + 4096u, total.QuadPart / 20) << "the drive's reserve must exceed the room left over";
    const std::u16string filler = drive + u"\\filler";
    ASSERT_TRUE(FillDrive(std::wstring(filler.begin(), filler.end()), leave));
    ASSERT_TRUE(GetDiskFreeSpaceExW(W(drive + u"\\"), &available, &total, &free));
    ASSERT_GE(available.QuadPart, content.size() + 4096) << "the copy would fit";
    EXPECT_EQ(QuarantineOutcome::kMissing, quarantine.Keep(path, u"W32/Stanit.A", u"delete").kind);
    EXPECT_TRUE(Names(quarantine.Folder()).empty());
    ASSERT_TRUE(DeleteFileW(W(filler)));
    const QuarantineOutcome kept = quarantine.Keep(path, u"W32/Stanit.A", u"delete");
    EXPECT_EQ(QuarantineOutcome::kKept, kept.kind);
    quarantine.Discard(kept.entry.id);
    RemoveFolders(quarantine);
}

}  // namespace
