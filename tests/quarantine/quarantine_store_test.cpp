// Listing, restoring and purging a quarantine folder on the build machine's
// file system (quarantine_files_std.cpp), as tesmora-sig does natively.
#include "quarantine/quarantine_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text16.h"
#include "quarantine/sha256.h"
#include "support/pe_fixture.h"

namespace fs = std::filesystem;

namespace {

class QuarantineStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tsq-test-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        root_ = pattern;
        folder_ = root_ / "Quarantine";
        files_ = OpenQuarantineFiles(Utf8ToUtf16(folder_.string()));
    }
    void TearDown() override { fs::remove_all(root_); }

    std::u16string Original(const char* name) const { return Utf8ToUtf16((root_ / name).string()); }

    static void Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> FolderNames(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    QuarantineEntry KeepAs(const std::vector<uint8_t>& content, const std::u16string& path, const char16_t* tag,
                           int second = 1) {
        const std::optional<QuarantineEntry> kept =
            KeepBytes(*files_, content, path, u"W32/Stanit.A", u"delete", UtcTime{2026, 12, 11, 14, 35, second}, tag);
        EXPECT_TRUE(kept.has_value());
        return kept.value_or(QuarantineEntry());
    }

    fs::path root_;
    fs::path folder_;
    std::unique_ptr<CQuarantineFiles> files_;
};

std::vector<uint8_t> Sample() {
    FixturePlan plan;
    plan.runnable = true;
    plan.sections.push_back(FixtureSection{".data", FixtureBytes(5, 5000)});
    return BuildPe(plan).bytes;
}

TEST_F(QuarantineStoreTest, KeepListRestoreRoundTrip) {
    const std::vector<uint8_t> content = Sample();
    const std::u16string path = Original("sample.exe");
    const QuarantineEntry kept = KeepAs(content, path, u"0000abcd");
    EXPECT_EQ(u"20261211T143501Z-0000abcd", kept.id);
    EXPECT_EQ(Sha256Hex(content.data(), content.size()), kept.sha256);
    EXPECT_EQ(std::vector<std::string>{"20261211T143501Z-0000abcd.tsq"}, FolderNames(folder_));

    QuarantineListing listing;
    ASSERT_TRUE(ListQuarantine(*files_, listing));
    ASSERT_EQ(1u, listing.entries.size());
    EXPECT_TRUE(listing.damaged.empty());
    EXPECT_EQ(path, listing.entries[0].originalPath);
    EXPECT_EQ(u"2026-12-11T14:35:01Z", listing.entries[0].time);
    EXPECT_EQ(u"W32/Stanit.A", listing.entries[0].family);
    EXPECT_EQ(u"delete", listing.entries[0].action);
    EXPECT_EQ(content.size(), listing.entries[0].size);

    QuarantineEntry restored;
    ASSERT_EQ(RestoreResult::kRestored, RestoreQuarantined(*files_, kept.id, restored));
    EXPECT_EQ(path, restored.originalPath);
    EXPECT_EQ(content, Read(root_ / "sample.exe"));
    // The entry is gone, and no temporary is left beside the restored file.
    EXPECT_TRUE(FolderNames(folder_).empty());
    EXPECT_EQ((std::vector<std::string>{"Quarantine", "sample.exe"}), FolderNames(root_));
    EXPECT_EQ(RestoreResult::kNoEntry, RestoreQuarantined(*files_, kept.id, restored));
}

TEST_F(QuarantineStoreTest, RestoreRefusesWhenSomethingIsThere) {
    const std::vector<uint8_t> content = Sample();
    const QuarantineEntry kept = KeepAs(content, Original("sample.exe"), u"0000abcd");
    const std::vector<uint8_t> entryBytes = Read(folder_ / (Utf16ToUtf8(kept.id) + ".tsq"));
    const std::vector<uint8_t> newer = {'n', 'e', 'w'};
    Write(root_ / "sample.exe", newer);
    QuarantineEntry entry;
    EXPECT_EQ(RestoreResult::kExists, RestoreQuarantined(*files_, kept.id, entry));
    EXPECT_EQ(newer, Read(root_ / "sample.exe"));
    EXPECT_EQ(entryBytes, Read(folder_ / (Utf16ToUtf8(kept.id) + ".tsq")));
    // A folder in the way is refused as well.
    fs::remove(root_ / "sample.exe");
    fs::create_directory(root_ / "sample.exe");
    EXPECT_EQ(RestoreResult::kExists, RestoreQuarantined(*files_, kept.id, entry));
    EXPECT_EQ(entryBytes, Read(folder_ / (Utf16ToUtf8(kept.id) + ".tsq")));
    EXPECT_EQ((std::vector<std::string>{"Quarantine", "sample.exe"}), FolderNames(root_));
}

TEST_F(QuarantineStoreTest, RestoreNeverGoesThroughALink) {
    const std::vector<uint8_t> content = Sample();
    fs::create_directory(root_ / "elsewhere");
    fs::create_directory_symlink(root_ / "elsewhere", root_ / "linked");
    const QuarantineEntry kept = KeepAs(content, Original("linked/sample.exe"), u"0000abcd");
    QuarantineEntry entry;
    EXPECT_EQ(RestoreResult::kLinked, RestoreQuarantined(*files_, kept.id, entry));
    EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
    EXPECT_TRUE(fs::exists(folder_ / (Utf16ToUtf8(kept.id) + ".tsq")));
}

TEST_F(QuarantineStoreTest, RestoreErrors) {
    const std::vector<uint8_t> content = Sample();
    const QuarantineEntry kept = KeepAs(content, Original("sample.exe"), u"0000abcd");
    const QuarantineEntry nowhere = KeepAs(content, Original("no-such-folder/sample.exe"), u"0000abce");
    const fs::path stored = folder_ / (Utf16ToUtf8(kept.id) + ".tsq");
    std::vector<uint8_t> damaged = Read(stored);
    damaged[damaged.size() / 2] ^= 0x40;
    Write(stored, damaged);
    QuarantineEntry entry;
    EXPECT_EQ(RestoreResult::kDamaged, RestoreQuarantined(*files_, kept.id, entry));
    EXPECT_EQ(Original("sample.exe"), entry.originalPath);  // the record still tells where
    EXPECT_FALSE(fs::exists(root_ / "sample.exe"));
    EXPECT_EQ(RestoreResult::kFailed, RestoreQuarantined(*files_, nowhere.id, entry));
    EXPECT_TRUE(fs::exists(folder_ / (Utf16ToUtf8(nowhere.id) + ".tsq")));
    for (const char16_t* id : {u"20261211T143501Z-ffffffff", u"../Quarantine/x", u""}) {
        EXPECT_EQ(RestoreResult::kNoEntry, RestoreQuarantined(*files_, id, entry));
    }
    // An entry renamed to another id is not restored under the wrong name.
    fs::copy_file(folder_ / (Utf16ToUtf8(nowhere.id) + ".tsq"), folder_ / "other.tsq");
    EXPECT_EQ(RestoreResult::kDamaged, RestoreQuarantined(*files_, u"other", entry));
}

TEST_F(QuarantineStoreTest, ListSortsAndNamesDamagedEntries) {
    QuarantineListing listing;
    listing.damaged.push_back(u"sentinel");
    ASSERT_TRUE(ListQuarantine(*files_, listing));  // the folder does not exist yet
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_TRUE(listing.damaged.empty());

    const std::vector<uint8_t> content = {1, 2, 3};
    KeepAs(content, Original("b.exe"), u"00000002", 9);
    KeepAs(content, Original("a.exe"), u"00000001", 9);
    KeepAs(content, Original("c.exe"), u"00000003", 5);
    Write(folder_ / "notes.txt", {'x'});
    Write(folder_ / "~tsq12345678.tmp", {'x'});
    Write(folder_ / "broken.tsq", {'T', 'E', 'S'});
    fs::copy_file(folder_ / "20261211T143505Z-00000003.tsq", folder_ / "renamed.tsq");
    fs::create_directory(folder_ / "sub.tsq");
    ASSERT_TRUE(ListQuarantine(*files_, listing));
    std::vector<std::u16string> ids;
    for (const QuarantineEntry& e : listing.entries) ids.push_back(e.id);
    EXPECT_EQ((std::vector<std::u16string>{u"20261211T143505Z-00000003", u"20261211T143509Z-00000001",
                                           u"20261211T143509Z-00000002"}),
              ids);
    EXPECT_EQ((std::vector<std::u16string>{u"broken.tsq", u"renamed.tsq"}), listing.damaged);

    // A file where the folder should be cannot be listed.
    auto onFile = OpenQuarantineFiles(Utf8ToUtf16((folder_ / "notes.txt").string()));
    EXPECT_FALSE(ListQuarantine(*onFile, listing));
}

TEST_F(QuarantineStoreTest, PurgeRemovesEntriesAndTemporariesOnly) {
    const std::vector<uint8_t> content = {1, 2, 3};
    KeepAs(content, Original("a.exe"), u"00000001");
    KeepAs(content, Original("b.exe"), u"00000002");
    Write(folder_ / "broken.tsq", {'x'});
    Write(folder_ / "~tsq12345678.tmp", {'x'});
    Write(folder_ / "notes.txt", {'x'});
    const PurgeCount count = PurgeQuarantine(*files_);
    EXPECT_EQ(3u, count.removed);
    EXPECT_EQ(0u, count.failed);
    EXPECT_EQ(std::vector<std::string>{"notes.txt"}, FolderNames(folder_));
    EXPECT_EQ(0u, PurgeQuarantine(*files_).removed);
}

TEST_F(QuarantineStoreTest, KeepRefusesWhatCannotBeStored) {
    EXPECT_FALSE(KeepBytes(*files_, {1}, u"a\nb", u"F", u"delete", UtcTime{2026, 1, 1, 0, 0, 0}, u"00000001"));
    EXPECT_FALSE(KeepBytes(*files_, {1}, u"a", u"F", u"delete", UtcTime{2026, 1, 1, 0, 0, 0}, u"../x"));
    // The same id twice: the second is refused, the first kept as it was.
    const QuarantineEntry first = KeepAs({1}, Original("a.exe"), u"00000001");
    EXPECT_FALSE(KeepBytes(*files_, {2}, Original("b.exe"), u"F", u"delete", UtcTime{2026, 12, 11, 14, 35, 1},
                           u"00000001"));
    QuarantineListing listing;
    ASSERT_TRUE(ListQuarantine(*files_, listing));
    ASSERT_EQ(1u, listing.entries.size());
    EXPECT_EQ(Original("a.exe"), listing.entries[0].originalPath);
    EXPECT_EQ(std::vector<std::string>{Utf16ToUtf8(first.id) + ".tsq"}, FolderNames(folder_));
}

}  // namespace
