// The stored form of quarantine entries: the round trip, what the stored bytes
// must not show, what encoding refuses, and what parsing rejects.
#include "quarantine/stored_entry.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "quarantine/sha256.h"
#include "support/pe_fixture.h"

namespace {

QuarantineEntry EntryFor(const std::vector<uint8_t>& content) {
    QuarantineEntry e;
    e.id = u"20261211T143501Z-1a2b3c4d";
    e.originalPath = u"C:\\WINDOWS\\system32\\\u00e9vil \u4e2d.exe";
    e.time = u"2026-12-11T14:35:01Z";
    e.family = u"W32/Stanit.A";
    e.action = u"delete";
    e.sha256 = Sha256Hex(content.data(), content.size());
    e.size = content.size();
    return e;
}

void ExpectSameEntry(const QuarantineEntry& want, const QuarantineEntry& got) {
    EXPECT_EQ(want.id, got.id);
    EXPECT_EQ(want.originalPath, got.originalPath);
    EXPECT_EQ(want.time, got.time);
    EXPECT_EQ(want.family, got.family);
    EXPECT_EQ(want.action, got.action);
    EXPECT_EQ(want.sha256, got.sha256);
    EXPECT_EQ(want.size, got.size);
}

std::vector<uint8_t> RunnablePe() {
    FixturePlan plan;
    plan.runnable = true;
    plan.sections.push_back(FixtureSection{".data", FixtureBytes(7, 3000)});
    return BuildPe(plan).bytes;
}

std::vector<uint8_t> Encode(const QuarantineEntry& e, const std::vector<uint8_t>& content) {
    const std::optional<std::vector<uint8_t>> stored = EncodeStoredEntry(e, content.data(), content.size());
    EXPECT_TRUE(stored.has_value());
    return stored.value_or(std::vector<uint8_t>());
}

TEST(StoredEntryTest, IdAndTimeText) {
    const UtcTime t{2026, 12, 11, 14, 35, 1};
    EXPECT_EQ(u"20261211T143501Z-1a2b3c4d", NewEntryId(t, u"1a2b3c4d"));
    EXPECT_EQ(u"2026-12-11T14:35:01Z", EntryTime(t));
    EXPECT_TRUE(IsValidEntryId(NewEntryId(t, u"1a2b3c4d")));
    static const struct {
        const char16_t* id;
        bool valid;
    } kIds[] = {
        {u"20261211T143501Z-1a2b3c4d", true}, {u"a", true}, {u"", false}, {u"..", false},
        {u"../x", false}, {u"a\\b", false}, {u"a.tsq", false}, {u"a b", false}, {u"\u00e9", false},
    };
    for (const auto& c : kIds) {
        SCOPED_TRACE(std::string(c.id, c.id + std::char_traits<char16_t>::length(c.id)));
        EXPECT_EQ(c.valid, IsValidEntryId(c.id));
    }
    EXPECT_TRUE(IsValidEntryId(std::u16string(kMaxEntryId, u'a')));
    EXPECT_FALSE(IsValidEntryId(std::u16string(kMaxEntryId + 1, u'a')));
}

TEST(StoredEntryTest, RoundTripByteForByte) {
    const std::vector<std::vector<uint8_t>> contents = {
        {}, {0x4D}, {'M', 'Z'}, RunnablePe(), FixtureBytes(3, 200000), std::vector<uint8_t>(70000, 0)};
    for (const std::vector<uint8_t>& content : contents) {
        SCOPED_TRACE(content.size());
        const QuarantineEntry entry = EntryFor(content);
        const std::vector<uint8_t> stored = Encode(entry, content);
        QuarantineEntry parsed;
        ASSERT_EQ(StoredEntryError::kNone, ParseStoredEntry(stored.data(), stored.size(), parsed));
        ExpectSameEntry(entry, parsed);
        QuarantineEntry decoded;
        std::vector<uint8_t> back = {1, 2, 3};
        ASSERT_EQ(StoredEntryError::kNone, DecodeStoredEntry(stored.data(), stored.size(), decoded, back));
        ExpectSameEntry(entry, decoded);
        EXPECT_EQ(content, back);
    }
}

// Neither an MZ header nor any eight bytes in a row of the original appear in
// the stored file, for an executable and for a run of zeros.
TEST(StoredEntryTest, StoredBytesShowNothingOfTheOriginal) {
    for (const std::vector<uint8_t>& content : {RunnablePe(), std::vector<uint8_t>(4096, 0)}) {
        const std::vector<uint8_t> stored = Encode(EntryFor(content), content);
        ASSERT_GE(stored.size(), 2u);
        EXPECT_FALSE(stored[0] == 'M' && stored[1] == 'Z');
        std::unordered_set<uint64_t> windows;
        for (std::size_t i = 0; i + 8 <= content.size(); ++i) {
            uint64_t w;
            std::memcpy(&w, content.data() + i, 8);
            windows.insert(w);
        }
        for (std::size_t i = 0; i + 8 <= stored.size(); ++i) {
            uint64_t w;
            std::memcpy(&w, stored.data() + i, 8);
            ASSERT_EQ(0u, windows.count(w)) << "original bytes at stored offset " << i;
        }
    }
}

// The keystream applied in pieces gives what it gives in one pass, and
// differs between ids.
TEST(StoredEntryTest, KeystreamInPieces) {
    const std::vector<uint8_t> original = FixtureBytes(11, 1000);
    std::vector<uint8_t> whole = original;
    CEntryKeystream(u"A-1").Apply(whole.data(), whole.size());
    std::vector<uint8_t> pieces = original;
    CEntryKeystream stream(u"A-1");
    for (std::size_t at = 0, n = 1; at < pieces.size(); at += n, n = n * 2 + 1) {
        stream.Apply(pieces.data() + at, std::min(n, pieces.size() - at));
    }
    EXPECT_EQ(whole, pieces);
    std::vector<uint8_t> other = original;
    CEntryKeystream(u"A-2").Apply(other.data(), other.size());
    EXPECT_NE(whole, other);
    EXPECT_NE(original, whole);
}

TEST(StoredEntryTest, EncodingRefusesWhatCannotBeStored) {
    const std::vector<uint8_t> content = {1, 2, 3};
    static const struct {
        const char* name;
        void (*spoil)(QuarantineEntry&);
    } kCases[] = {
        {"id with slash", [](QuarantineEntry& e) { e.id = u"a/b"; }},
        {"empty id", [](QuarantineEntry& e) { e.id.clear(); }},
        {"empty path", [](QuarantineEntry& e) { e.originalPath.clear(); }},
        {"LF in path", [](QuarantineEntry& e) { e.originalPath += u"\nsize=1"; }},
        {"CR in path", [](QuarantineEntry& e) { e.originalPath += u"\r"; }},
        {"NUL in path", [](QuarantineEntry& e) { e.originalPath += u'\0'; }},
        {"TAB in family", [](QuarantineEntry& e) { e.family += u"\t"; }},
        {"lone surrogate", [](QuarantineEntry& e) { e.originalPath += u'\xD800'; }},
        {"over-long path", [](QuarantineEntry& e) { e.originalPath.assign(kMaxEntryPath + 1, u'a'); }},
        {"over-long family", [](QuarantineEntry& e) { e.family.assign(kMaxEntryFamily + 1, u'a'); }},
        {"bad time", [](QuarantineEntry& e) { e.time = u"2026-12-11 14:35:01"; }},
        {"bad action", [](QuarantineEntry& e) { e.action = u"Delete"; }},
        {"upper-case digest", [](QuarantineEntry& e) {
             for (auto& c : e.sha256) c = static_cast<char>(std::toupper(c));
         }},
        {"other digest", [](QuarantineEntry& e) { e.sha256[0] = e.sha256[0] == '0' ? '1' : '0'; }},
        {"other size", [](QuarantineEntry& e) { e.size = 4; }},
    };
    const QuarantineEntry good = EntryFor(content);
    ASSERT_TRUE(EncodeStoredEntry(good, content.data(), content.size()));
    std::vector<uint8_t> longest = content;
    QuarantineEntry limit = EntryFor(longest);
    limit.originalPath.assign(kMaxEntryPath, u'\u4e2d');  // three UTF-8 bytes each
    EXPECT_TRUE(EncodeStoredEntry(limit, longest.data(), longest.size()));
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        QuarantineEntry e = good;
        c.spoil(e);
        EXPECT_FALSE(EncodeStoredEntry(e, content.data(), content.size()));
    }
}

// Entries built from a record text and stored content of their own.
std::vector<uint8_t> Assemble(const std::string& record, const std::vector<uint8_t>& stored, uint8_t version = 1,
                              uint8_t reserved = 0) {
    std::vector<uint8_t> out = {'T', 'E', 'S', 'M', 'O', 'R', 'A', 'Q', version, 0, reserved, 0};
    const uint32_t n = static_cast<uint32_t>(record.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    out.insert(out.end(), record.begin(), record.end());
    out.insert(out.end(), stored.begin(), stored.end());
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(StoredEntryTest, ParsingRejectsMalformedEntries) {
    const std::vector<uint8_t> content = RunnablePe();
    const QuarantineEntry entry = EntryFor(content);
    const std::vector<uint8_t> good = Encode(entry, content);
    const std::vector<uint8_t> head = *StoredEntryHead(entry);
    const std::string record(head.begin() + kEntryHeaderSize, head.end());
    const std::vector<uint8_t> body(good.begin() + static_cast<std::ptrdiff_t>(head.size()), good.end());
    const std::string size = "size=" + std::to_string(content.size()) + "\n";
    const std::string path = record.substr(record.find("path="), record.find("time=") - record.find("path="));
    ASSERT_EQ(good, Assemble(record, body));

    auto cut = [&](std::size_t n) {
        return std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    };
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    std::vector<uint8_t> hugeRecord = good;
    hugeRecord[14] = 0x10;  // a record length of 1 MiB and more
    std::vector<uint8_t> flipped = good;
    flipped.back() ^= 1;

    static const StoredEntryError kNone = StoredEntryError::kNone;
    const struct {
        const char* name;
        std::vector<uint8_t> data;
        StoredEntryError parse;
        StoredEntryError decode;
    } kCases[] = {
        {"empty", {}, StoredEntryError::kTruncated, StoredEntryError::kTruncated},
        {"7 bytes", cut(7), StoredEntryError::kTruncated, StoredEntryError::kTruncated},
        {"header only", cut(kEntryHeaderSize), StoredEntryError::kTruncated, StoredEntryError::kTruncated},
        {"record cut", cut(head.size() - 1), StoredEntryError::kTruncated, StoredEntryError::kTruncated},
        {"content cut", cut(good.size() - 1), StoredEntryError::kSizeMismatch, StoredEntryError::kSizeMismatch},
        {"no content", cut(head.size()), StoredEntryError::kSizeMismatch, StoredEntryError::kSizeMismatch},
        {"a byte more", longer, StoredEntryError::kSizeMismatch, StoredEntryError::kSizeMismatch},
        {"the original itself", content, StoredEntryError::kBadMagic, StoredEntryError::kBadMagic},
        {"short and not an entry", {'M', 'Z', 0, 0, 0, 0, 0, 0, 0}, StoredEntryError::kBadMagic,
         StoredEntryError::kBadMagic},
        {"version 2", Assemble(record, body, 2), StoredEntryError::kBadVersion, StoredEntryError::kBadVersion},
        {"reserved set", Assemble(record, body, 1, 1), StoredEntryError::kBadVersion, StoredEntryError::kBadVersion},
        {"record over the limit", hugeRecord, StoredEntryError::kBadRecord, StoredEntryError::kBadRecord},
        {"no final line break", Assemble(record.substr(0, record.size() - 1), body), StoredEntryError::kBadRecord,
         StoredEntryError::kBadRecord},
        {"line without =", Assemble("junk\n" + record, body), StoredEntryError::kBadRecord,
         StoredEntryError::kBadRecord},
        {"unknown key", Assemble("colour=red\n" + record, body), StoredEntryError::kBadRecord,
         StoredEntryError::kBadRecord},
        {"repeated key", Assemble(record + size, body), StoredEntryError::kBadRecord, StoredEntryError::kBadRecord},
        {"key cased", Assemble(Replace(record, "size=", "Size="), body), StoredEntryError::kBadRecord,
         StoredEntryError::kBadRecord},
        {"no size", Assemble(Replace(record, size, ""), body), StoredEntryError::kMissingKey,
         StoredEntryError::kMissingKey},
        {"no path", Assemble(Replace(record, path, ""), body), StoredEntryError::kMissingKey,
         StoredEntryError::kMissingKey},
        {"empty record", Assemble("", body), StoredEntryError::kMissingKey, StoredEntryError::kMissingKey},
        {"CR in path", Assemble(Replace(record, "system32", "sys\rtem32"), body), StoredEntryError::kBadValue,
         StoredEntryError::kBadValue},
        {"NUL in path", Assemble(Replace(record, "system32", std::string("sys\0tem32", 9)), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"empty path", Assemble(Replace(record, path, "path=\n"), body), StoredEntryError::kBadValue,
         StoredEntryError::kBadValue},
        {"over-long path", Assemble(Replace(record, path, "path=" + std::string(kMaxEntryPath + 1, 'a') + "\n"), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"far too long path", Assemble(Replace(record, path, "path=" + std::string(200000, 'a') + "\n"), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"invalid UTF-8", Assemble(Replace(record, "Stanit", "Stan\xff"), body), StoredEntryError::kBadValue,
         StoredEntryError::kBadValue},
        {"id leaving the folder", Assemble(Replace(record, "id=", "id=../"), body), StoredEntryError::kBadValue,
         StoredEntryError::kBadValue},
        {"bad time", Assemble(Replace(record, "time=2026-12-11T", "time=2026-12-11t"), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"size with sign", Assemble(Replace(record, size, "size=+" + size.substr(5)), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"size with leading zero", Assemble(Replace(record, size, "size=0" + size.substr(5)), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"size past 64 bits", Assemble(Replace(record, size, "size=18446744073709551616\n"), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"size larger", Assemble(Replace(record, size, "size=" + std::to_string(content.size() + 1) + "\n"), body),
         StoredEntryError::kSizeMismatch, StoredEntryError::kSizeMismatch},
        {"upper-case digest", Assemble(Replace(record, "sha256=" + entry.sha256.substr(0, 1), "sha256=F"), body),
         StoredEntryError::kBadValue, StoredEntryError::kBadValue},
        {"content changed", flipped, kNone, StoredEntryError::kHashMismatch},
        {"other id, other keystream", Assemble(Replace(record, "1a2b3c4d", "1a2b3c4e"), body), kNone,
         StoredEntryError::kHashMismatch},
        {"stored as it was", Assemble(record, content), kNone, StoredEntryError::kHashMismatch},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        QuarantineEntry parsed;
        parsed.id = u"sentinel";
        EXPECT_EQ(c.parse, ParseStoredEntry(c.data.data(), c.data.size(), parsed));
        if (c.parse != kNone) {
            EXPECT_EQ(u"sentinel", parsed.id);
        }
        QuarantineEntry decoded;
        decoded.id = u"sentinel";
        std::vector<uint8_t> back = {9};
        EXPECT_EQ(c.decode, DecodeStoredEntry(c.data.data(), c.data.size(), decoded, back));
        EXPECT_EQ(u"sentinel", decoded.id);
        EXPECT_EQ(std::vector<uint8_t>{9}, back);
        EXPECT_STRNE("", StoredEntryErrorText(c.decode));
    }
}

// The fuzz target's seeds, entries the native tool wrote, decode as they are.
TEST(StoredEntryTest, FuzzSeedsDecode) {
    const std::filesystem::path folder = std::filesystem::path(TESMORA_SOURCE_DIR) / "fuzz/corpus/stored_entry_fuzz";
    int decoded = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(file.path().filename().string());
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        QuarantineEntry entry;
        std::vector<uint8_t> content;
        ASSERT_EQ(StoredEntryError::kNone, DecodeStoredEntry(input.data(), input.size(), entry, content));
        EXPECT_EQ(entry.size, content.size());
        ++decoded;
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
