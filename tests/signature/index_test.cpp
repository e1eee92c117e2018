#include "signature/signature_index.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "script/parser.h"
#include "signature/hex_codec.h"
#include "signature/index_fixtures.h"
#include "support/script_support.h"

namespace {

std::vector<SearchMethod> SupportedMethods() {
    std::vector<SearchMethod> methods;
    for (SearchMethod p : kEverySearchMethod) {
        if (CSignatureIndex::IsSupported(p)) methods.push_back(p);
    }
    return methods;
}

// Removers and the index over them.
struct Detectors {
    std::vector<std::unique_ptr<CMalwareRemover>> owned;
    std::vector<CMalwareRemover*> table;
    CSignatureIndex index;

    CMalwareRemover* Add(const FakeSignature& memory, const FakeSignature& file) {
        owned.push_back(MakeRemover(memory, file));
        table.push_back(owned.back().get());
        return table.back();
    }
    void Build() { index.Build(table.data(), table.size()); }
};

FakeSignature RecordOf(const std::vector<uint8_t>& bytes) {
    auto record = MakeSignatureRecord(bytes.data(), bytes.size());
    EXPECT_TRUE(record.has_value());
    return record ? FromRecord(*record) : FakeSignature();
}

// A 40-byte signature whose anchor is its bytes 10 and 11 (AB C0, the
// rarest pair of all).
std::vector<uint8_t> AnchoredSignature(uint64_t seed) {
    std::vector<uint8_t> s = CRandom(seed).Bytes(40);
    for (auto& b : s) b = static_cast<uint8_t>(b & 0x7F);  // keeps AB C0 unique
    s[10] = 0xAB;
    s[11] = 0xC0;
    return s;
}

TEST(SignatureIndexTest, BuildFilesEntriesByKindInRegistrationOrder) {
    const std::vector<uint8_t> a = AnchoredSignature(1);
    const std::vector<uint8_t> b = AnchoredSignature(2);
    const FakeSignature ra = RecordOf(a);
    const FakeSignature rb = RecordOf(b);
    FakeSignature rbSameLengthOffsetCrc = rb;  // only the head differs: still one entry
    rbSameLengthOffsetCrc.head[0] ^= 1;
    Detectors d;
    CMalwareRemover* fileOnly = d.Add(FakeSignature(), ra);
    CMalwareRemover* both = d.Add(ra, ra);
    CMalwareRemover* apart = d.Add(rb, ra);  // different CRCs: a file entry, then a memory entry
    CMalwareRemover* memoryOnly = d.Add(rb, FakeSignature());
    d.Add(FakeSignature(), FakeSignature());  // no signature, no entry
    CMalwareRemover* sharedHeadless = d.Add(rbSameLengthOffsetCrc, rb);
    d.Build();

    const struct {
        CMalwareRemover* remover;
        uint8_t kinds;
    } kExpected[] = {
        {fileOnly, kMatchesInFiles},   {both, kMatchesInFiles | kMatchesInMemory},
        {apart, kMatchesInFiles},      {apart, kMatchesInMemory},
        {memoryOnly, kMatchesInMemory}, {sharedHeadless, kMatchesInFiles | kMatchesInMemory},
    };
    ASSERT_EQ(ra.word, rb.word);
    const SignatureIndexEntry* e = d.index.Bucket(ra.word);
    for (const auto& want : kExpected) {
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(want.remover, e->remover);
        EXPECT_EQ(want.kinds, e->kinds);
        e = e->next;
    }
    EXPECT_EQ(nullptr, e);

    const SignatureIndexEntry* combined = d.index.Bucket(ra.word)->next->next->next->next->next;
    EXPECT_EQ(0, std::memcmp(rbSameLengthOffsetCrc.head, combined->memoryHead, 5));
    EXPECT_EQ(0, std::memcmp(rb.head, combined->fileHead, 5));
    const SignatureIndexEntry* fileEntry = d.index.Bucket(ra.word);
    EXPECT_EQ(0u, fileEntry->memoryLength);
    EXPECT_EQ(ra.crc, fileEntry->fileCrc);
    EXPECT_EQ(40u, fileEntry->fileLength);
    EXPECT_EQ(10u, fileEntry->fileAnchorOffset);

    d.index.Release();
    EXPECT_EQ(nullptr, d.index.Bucket(ra.word));
    size_t start = 7;
    EXPECT_EQ(nullptr, d.index.FindInFile(a.data(), a.size(), start));
    EXPECT_EQ(0u, start);
}

// Where the signature lies relative to the range decides.
TEST(SignatureIndexTest, SignatureMustLieWhollyInsideTheRange) {
    const std::vector<uint8_t> sig = AnchoredSignature(3);
    Detectors d;
    d.Add(RecordOf(sig), RecordOf(sig));
    d.Build();
    std::vector<uint8_t> filler = CRandom(4).Bytes(100);
    for (auto& b : filler) b &= 0x7F;

    static const struct {
        const char* what;
        size_t before;   // filler bytes before the signature
        size_t after;    // filler bytes after it
        size_t skip;     // bytes dropped from the start of the range
        size_t cut;      // bytes dropped from its end
        bool found;
    } kCases[] = {
        {"at offset 0", 0, 30, 0, 0, true},
        {"ending on the last byte", 30, 0, 0, 0, true},
        {"last byte one past the end, anchor inside", 30, 0, 0, 1, false},
        {"first byte one before the range, anchor inside", 0, 30, 1, 0, false},
        {"range exactly the signature", 0, 0, 0, 0, true},
    };
    for (SearchMethod method : SupportedMethods()) {
        ASSERT_TRUE(d.index.UseMethod(method));
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.what) + " method " + std::to_string(static_cast<int>(method)));
            std::vector<uint8_t> buffer(filler.begin(), filler.begin() + c.before);
            buffer.insert(buffer.end(), sig.begin(), sig.end());
            buffer.insert(buffer.end(), filler.begin(), filler.begin() + c.after);
            const std::vector<uint8_t> range(buffer.begin() + c.skip, buffer.end() - c.cut);
            size_t start = 99;
            const SignatureIndexEntry* e = d.index.FindInFile(range.data(), range.size(), start);
            EXPECT_EQ(c.found, e != nullptr);
            EXPECT_EQ(c.found ? c.before : 0, start);
            EXPECT_EQ(c.found, d.index.FindInMemory(range.data(), range.size()) != nullptr);
        }
    }
}

TEST(SignatureIndexTest, TinyAndEmptyRangesNeverMatch) {
    // A hand-made 3-byte record whose bucket every range below hits.
    FakeSignature tiny;
    tiny.length = 3;
    tiny.word = 0x0101;
    Detectors d;
    d.Add(tiny, tiny);
    d.Add(RecordOf(AnchoredSignature(5)), FakeSignature());
    d.Build();
    const uint8_t ones[3] = {1, 1, 1};
    for (SearchMethod method : SupportedMethods()) {
        ASSERT_TRUE(d.index.UseMethod(method));
        for (size_t n = 0; n <= 3; ++n) {
            size_t start = 5;
            EXPECT_EQ(nullptr, d.index.FindInFile(n == 0 ? nullptr : ones, n, start));
            EXPECT_EQ(0u, start);
            EXPECT_EQ(nullptr, d.index.FindInMemory(n == 0 ? nullptr : ones, n));
        }
    }
    CSignatureIndex empty;  // never built
    size_t start = 5;
    EXPECT_EQ(nullptr, empty.FindInFile(ones, 3, start));
    EXPECT_EQ(nullptr, empty.FindInMemory(ones, 3));
}

TEST(SignatureIndexTest, RecordsLongerThanAnyRangeAreSkipped) {
    const std::vector<uint8_t> sig = AnchoredSignature(6);
    FakeSignature huge = RecordOf(sig);
    huge.length = 0xFFFFFFFFu;
    FakeSignature farAnchor = RecordOf(sig);
    farAnchor.offset = 0xFFFFFFF0u;
    Detectors d;
    d.Add(huge, huge);
    d.Add(farAnchor, FakeSignature());
    d.Build();
    for (SearchMethod method : SupportedMethods()) {
        ASSERT_TRUE(d.index.UseMethod(method));
        size_t start = 0;
        EXPECT_EQ(nullptr, d.index.FindInFile(sig.data(), sig.size(), start));
        EXPECT_EQ(nullptr, d.index.FindInMemory(sig.data(), sig.size()));
    }
}

// The lowest anchor position wins, then registration order; not the lowest start.
TEST(SignatureIndexTest, FirstAnchorThenRegistrationOrderWins) {
    std::vector<uint8_t> range = CRandom(7).Bytes(80);
    for (auto& b : range) b &= 0x7F;
    range[30] = 0xAB;  // the only AB C0: every signature over 30..31 anchors there
    range[31] = 0xC0;
    auto slice = [&](size_t from, size_t to) { return std::vector<uint8_t>(range.begin() + from, range.begin() + to); };
    const FakeSignature whole = RecordOf(slice(20, 60));  // anchor offset 10
    const FakeSignature late = RecordOf(slice(22, 60));   // anchor offset 8, same position
    ASSERT_EQ(10u, whole.offset);
    ASSERT_EQ(8u, late.offset);
    FakeSignature early = RecordOf(slice(0, 60));  // begins first, anchored by hand at 45
    early.offset = 45;
    early.word = static_cast<uint16_t>(range[45] | range[46] << 8);

    const FakeSignature records[3] = {whole, late, early};
    const size_t starts[3] = {20, 22, 0};
    static const struct {
        const char* what;
        int order[3];  // registration order of whole (0), late (1), early (2)
        int winner;
    } kCases[] = {
        {"whole registered first", {0, 1, 2}, 0},
        {"late registered first", {1, 0, 2}, 1},
        {"the earliest start registered first still loses", {2, 0, 1}, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Detectors d;
        CMalwareRemover* made[3];
        for (int i : c.order) made[i] = d.Add(FakeSignature(), records[i]);
        d.Build();
        for (SearchMethod method : SupportedMethods()) {
            ASSERT_TRUE(d.index.UseMethod(method));
            size_t start = 0;
            const SignatureIndexEntry* e = d.index.FindInFile(range.data(), range.size(), start);
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(made[c.winner], e->remover);
            EXPECT_EQ(starts[c.winner], start);
        }
    }
}

TEST(SignatureIndexTest, KindsDecideWhichFindSeesAnEntry) {
    const std::vector<uint8_t> sig = AnchoredSignature(9);
    const std::vector<uint8_t> other = AnchoredSignature(10);
    std::vector<uint8_t> range(sig);
    range.insert(range.end(), other.begin(), other.end());
    Detectors d;
    CMalwareRemover* fileSig = d.Add(FakeSignature(), RecordOf(sig));
    CMalwareRemover* memorySig = d.Add(RecordOf(other), FakeSignature());
    CMalwareRemover* both = d.Add(RecordOf(other), RecordOf(other));
    d.Build();
    for (SearchMethod method : SupportedMethods()) {
        ASSERT_TRUE(d.index.UseMethod(method));
        size_t start = 0;
        const SignatureIndexEntry* f = d.index.FindInFile(range.data(), range.size(), start);
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(fileSig, f->remover);
        f = d.index.FindInFile(range.data() + 1, range.size() - 1, start);
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(both, f->remover);
        EXPECT_EQ(39u, start);
        const SignatureIndexEntry* m = d.index.FindInMemory(range.data(), range.size());
        ASSERT_NE(nullptr, m);
        EXPECT_EQ(memorySig, m->remover);
    }
}

TEST(SignatureIndexTest, PathSelection) {
    Detectors d;
    CRandom rng(11);
    for (int i = 0; i < 20; ++i) d.Add(FakeSignature(), RecordOf(rng.Bytes(40)));
    d.Build();
    EXPECT_TRUE(d.index.UseMethod(SearchMethod::Scalar));
    EXPECT_EQ(SearchMethod::Scalar, d.index.ActiveMethod(kMatchesInFiles));
    if (CSignatureIndex::IsSupported(SearchMethod::Sse2)) {
        ASSERT_TRUE(d.index.UseMethod(SearchMethod::Sse2));
        EXPECT_EQ(SearchMethod::Scalar, d.index.ActiveMethod(kMatchesInFiles));  // 20 words exceed 16 compares
    }
    if (CSignatureIndex::IsSupported(SearchMethod::Avx2)) {
        ASSERT_TRUE(d.index.UseMethod(SearchMethod::Auto));
        EXPECT_EQ(CSignatureIndex::IsSupported(SearchMethod::Avx512bw) ? SearchMethod::Avx512bw : SearchMethod::Avx2,
                  d.index.ActiveMethod(kMatchesInFiles));
    }
}

// Random records and bytes: every search method gives the reference walk's
// result over many sub-ranges.
TEST(SignatureIndexTest, RandomizedAgreesWithReferenceWalk) {
    for (uint64_t round = 0; round < 150; ++round) {
        SCOPED_TRACE(round);
        CRandom rng(1000 + round);
        const size_t n = 64 + rng.Below(3000);
        std::vector<uint8_t> data = rng.Bytes(n);
        // Stretches over four byte values make words recur; copies make
        // signatures occur more than once.
        for (int s = 0; s < 4; ++s) {
            const size_t at = rng.Below(static_cast<uint32_t>(n));
            for (size_t i = at; i < n && i < at + 200; ++i) data[i] = static_cast<uint8_t>(0x41 + (data[i] & 3));
        }
        for (int s = 0; s < 4; ++s) {
            const size_t from = rng.Below(static_cast<uint32_t>(n / 2));
            const size_t to = rng.Below(static_cast<uint32_t>(n / 2)) + n / 2;
            const size_t len = std::min<size_t>(rng.Below(150), n - to);
            std::copy(data.begin() + from, data.begin() + from + len, data.begin() + to);
        }

        Detectors d;
        const int count = 1 + static_cast<int>(rng.Below(round % 5 == 0 ? 90 : 24));
        std::vector<FakeSignature> made;
        for (int i = 0; i < count; ++i) {
            const size_t at = rng.Below(static_cast<uint32_t>(n - 40));
            const size_t len = 32 + rng.Below(static_cast<uint32_t>(std::min<size_t>(200, n - at) - 31));
            FakeSignature real = RecordOf(std::vector<uint8_t>(data.begin() + at, data.begin() + at + len));
            FakeSignature other = made.empty() ? real : made[rng.Below(static_cast<uint32_t>(made.size()))];
            FakeSignature odd = real;
            switch (rng.Below(4)) {
                case 0:  // anchor anywhere, even outside the signature
                    odd.offset = rng.Below(static_cast<uint32_t>(len + 20));
                    odd.word = at + odd.offset + 1 < n ? static_cast<uint16_t>(data[at + odd.offset] |
                                                                              data[at + odd.offset + 1] << 8)
                                                       : real.word;
                    break;
                case 1:  // lengths no range holds, or shorter than the head
                    odd.length = rng.Below(2) != 0 ? rng.Below(6) : 0xFFFFFF00u + rng.Below(256);
                    break;
                case 2:  // same length, offset and CRC, another head
                    odd.head[rng.Below(5)] ^= 0x20;
                    break;
                default:
                    odd = FakeSignature();
            }
            switch (rng.Below(5)) {
                case 0: d.Add(real, real); break;
                case 1: d.Add(odd, real); break;
                case 2: d.Add(real, odd); break;
                case 3: d.Add(other, real); break;
                default: d.Add(real, other); break;
            }
            made.push_back(real);
        }
        d.Build();

        const std::vector<ReferenceRemover> reference = ReferenceTable(d.table);
        EXPECT_EQ("", CompareWithReference(d.index, reference, data.data(), n));
        for (int r = 0; r < 12; ++r) {
            const size_t from = rng.Below(static_cast<uint32_t>(n));
            const size_t len = r < 4 ? static_cast<size_t>(r) : rng.Below(static_cast<uint32_t>(n - from + 1));
            if (from + len > n) continue;
            EXPECT_EQ("", CompareWithReference(d.index, reference, data.data() + from, len))
                << "range " << from << "+" << len;
        }
    }
}

// Ranges ending at an unreadable page or starting after one: no search method
// reads a byte outside the range.
TEST(SignatureIndexTest, RangesAtUnreadablePagesAgreeWithReferenceWalk) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* region = mmap(nullptr, 3 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, region);
    uint8_t* middle = static_cast<uint8_t*>(region) + page;
    ASSERT_EQ(0, mprotect(middle, page, PROT_READ | PROT_WRITE));
    EXPECT_EQ("", CheckRangesAtPageEdges(middle, page));
    munmap(region, 3 * page);
}

// The carried script's file signatures, planted in random bytes, are found
// where they were put; they carry no memory signature.
TEST(SignatureIndexTest, FindsTheCarriedScriptsSignatures) {
    CFixedFolders folders;
    CRecordingSink sink;
    CMalwareScript script(folders, EmbeddedScriptText(), sink);
    ASSERT_TRUE(script.Parse());
    Detectors d;
    std::vector<std::vector<uint8_t>> bytes;
    for (const CMalwareDescription& desc : script.Descriptions()) {
        ASSERT_TRUE(desc.fileSignature.has_value());
        const auto record = BuildSignatureRecord(desc.fileSignature);
        ASSERT_TRUE(record.has_value());
        std::vector<uint8_t> raw;
        size_t count = 0;
        ASSERT_EQ(0, HexCodec(reinterpret_cast<const uint8_t*>(record->data()), record->size(), raw, count,
                              kHexDecode));
        d.Add(FakeSignature(), FromRecord(CSignature::FromBytes(raw.data())));
        std::vector<uint8_t> sig;
        ASSERT_EQ(0, HexCodec(reinterpret_cast<const uint8_t*>(desc.fileSignature->data()),
                              desc.fileSignature->size(), sig, count, kHexDecode));
        bytes.push_back(sig);
    }
    d.Build();
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::vector<uint8_t> range = CRandom(20 + i).Bytes(5000);
        std::copy(bytes[i].begin(), bytes[i].end(), range.begin() + 1000 + 37 * i);
        for (SearchMethod method : SupportedMethods()) {
            ASSERT_TRUE(d.index.UseMethod(method));
            size_t start = 0;
            const SignatureIndexEntry* e = d.index.FindInFile(range.data(), range.size(), start);
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(d.table[i], e->remover);
            EXPECT_EQ(1000 + 37 * i, start);
            EXPECT_EQ(nullptr, d.index.FindInMemory(range.data(), range.size()));
        }
    }
}

// The fuzz target's seeds (and any past findings kept beside them) replayed.
TEST(SignatureIndexTest, FuzzCorpusReplays) {
    const std::filesystem::path folder = std::filesystem::path(TESMORA_SOURCE_DIR) / "fuzz/corpus/signature_index_fuzz";
    int replayed = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(file.path().filename().string());
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ("", CheckFuzzInput(input.data(), input.size()));
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
