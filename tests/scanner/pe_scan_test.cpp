#include "scanner/pe_scan.h"

#include <gtest/gtest.h>

#include <memory>

#include "removers/remover.h"
#include "signature/signature.h"
#include "signature/signature_index.h"
#include "support/memory_file.h"
#include "support/pe_fixture.h"

namespace {

// An index over one scripted entry with a 64-byte file signature.
class PeScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        signature_ = FixtureBytes(77, 64);
        const auto record = MakeSignatureRecord(signature_.data(), signature_.size());
        ASSERT_TRUE(record.has_value());
        remover_ = std::make_unique<CScriptedMalware>(CSignature{}, *record, u"Test", u"A",
                                                      std::vector<CMalwareAction>{});
        CMalwareRemover* table[] = {remover_.get()};
        index_.Build(table, 1);
    }

    PeScanOutcome Scan(std::vector<uint8_t> bytes, bool entryPoint = true) {
        CMemoryFile file(std::move(bytes));
        PeScanOutcome out = ScanPeFile(file, index_, headers_, table_, buffer_, entryPoint, [] { return false; });
        bytesRead_ = file.bytesRead;
        return out;
    }

    // A PE file with one section of `size` raw bytes holding the signature at `at`.
    FixtureLayout WithSignature(uint32_t size, uint32_t at, bool pe32plus = false) {
        FixturePlan plan;
        plan.pe32plus = pe32plus;
        FixtureSection s;
        s.data = FixtureBytes(5, size);
        std::copy(signature_.begin(), signature_.end(), s.data.begin() + at);
        s.rawSize = size;
        plan.sections = {FixtureSection{".text", FixtureBytes(3, 512), 0, 0, 0x60000020}, s};
        return BuildPe(plan);
    }

    std::vector<uint8_t> signature_;
    std::unique_ptr<CScriptedMalware> remover_;
    CSignatureIndex index_;
    ExecutableHeaders headers_;
    std::vector<uint8_t> table_, buffer_;
    uint64_t bytesRead_ = 0;
};

TEST_F(PeScanTest, MatchInASectionLeavesTheHeadersForTheRemover) {
    for (bool pe32plus : {false, true}) {
        const FixtureLayout pe = WithSignature(4096, 1000, pe32plus);
        const PeScanOutcome out = Scan(pe.bytes);
        ASSERT_EQ(PeScanResult::Matched, out.result) << pe32plus;
        EXPECT_EQ(remover_.get(), out.match->remover);
        EXPECT_EQ(pe.sectionOffsets[1] + 1000u, out.matchOffset);
        EXPECT_EQ(0, std::memcmp(headers_.dosHeader, pe.bytes.data(), 64));
        EXPECT_EQ(0, std::memcmp(headers_.ntHeaders, pe.bytes.data() + pe.ntHeadersOffset, 248));
        ASSERT_EQ(2u, headers_.sectionCount);
        EXPECT_EQ(0, std::memcmp(headers_.sectionTable, pe.bytes.data() + pe.sectionTableOffset, 80));
    }
}

TEST_F(PeScanTest, LargeRegionsAreSampledAtBothEnds) {
    const struct {
        uint32_t size, at;
        bool found;
        double kilobytes;
    } cases[] = {
        {40960, 20450, true, 0},        // read whole
        {40961, 20450, false, 44},      // between the samples; 20 + 20 KB, then 4 KB at the entry point
        {40961, 40961 - 64, true, 0},   // ends on the region's last byte
        {40961, 20480 - 64, true, 0},   // ends on the first sample's last byte
        {40961, 20480 - 63, false, 44}, // one byte past it
    };
    for (const auto& c : cases) {
        const FixtureLayout pe = WithSignature(c.size, c.at);
        const PeScanOutcome out = Scan(pe.bytes);
        EXPECT_EQ(c.found, out.result == PeScanResult::Matched) << c.size << " at " << c.at;
        if (!c.found) {
            EXPECT_EQ(c.kilobytes, out.kilobytes) << c.size;
        }
    }
}

TEST_F(PeScanTest, EntryPointRegionOnlyWhenAsked) {
    FixturePlan plan;
    plan.sections = {FixtureSection{".text", FixtureBytes(3, 512), 0, 0, 0x60000020}};
    plan.entryPoint = 0x7FFF0000;  // in no section: the region starts at offset 0
    FixtureLayout pe = BuildPe(plan);
    std::copy(signature_.begin(), signature_.end(), pe.bytes.begin() + 0x300);  // header slack
    EXPECT_EQ(PeScanResult::Matched, Scan(pe.bytes, true).result);
    EXPECT_EQ(0x300u, Scan(pe.bytes, true).matchOffset);
    EXPECT_EQ(PeScanResult::Clean, Scan(pe.bytes, false).result);
    EXPECT_EQ(nullptr, headers_.sectionTable);  // cleared when nothing matched
}

TEST_F(PeScanTest, NotExecutable) {
    const FixtureLayout pe = WithSignature(4096, 100);
    std::vector<uint8_t> noMz = pe.bytes;
    noMz[0] = 'X';
    std::vector<uint8_t> noPe = pe.bytes;
    noPe[pe.ntHeadersOffset + 1] = 'X';
    std::vector<uint8_t> farHeaders = pe.bytes;
    farHeaders[60] = 0xF0;
    farHeaders[61] = 0xFF;
    farHeaders[62] = 0xFF;
    farHeaders[63] = 0xFF;
    std::vector<uint8_t> lateHeaders = pe.bytes;
    const uint32_t late = static_cast<uint32_t>(pe.bytes.size() - 200);  // fewer than 248 bytes left
    for (int i = 0; i < 4; ++i) lateHeaders[60 + i] = static_cast<uint8_t>(late >> (8 * i));
    std::vector<uint8_t> noSections = pe.bytes;
    noSections[pe.ntHeadersOffset + 6] = 0;
    noSections[pe.ntHeadersOffset + 7] = 0;
    const std::vector<uint8_t> tiny(pe.bytes.begin(), pe.bytes.begin() + 311);
    for (const auto& bytes : {noMz, noPe, farHeaders, lateHeaders, noSections, tiny}) {
        EXPECT_EQ(PeScanResult::NotExecutable, Scan(bytes).result);
    }
}

TEST_F(PeScanTest, HostileSectionTablesStayInsideTheFile) {
    const FixtureLayout pe = WithSignature(4096, 3000);  // beyond the entry region at offset 0
    const uint32_t table = pe.sectionTableOffset;
    auto put32 = [](std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    // 65,535 sections declared: only the headers the file holds whole are read.
    std::vector<uint8_t> many = pe.bytes;
    many[pe.ntHeadersOffset + 6] = 0xFF;
    many[pe.ntHeadersOffset + 7] = 0xFF;
    PeScanOutcome out = Scan(many);
    EXPECT_EQ(PeScanResult::Matched, out.result);
    EXPECT_LE(headers_.sectionCount, many.size() / 40);

    // Raw data beyond the end with a raw size of 4 GB, an entry point of 0xFFFFFFFF.
    std::vector<uint8_t> bad = pe.bytes;
    put32(bad, table + 40 + 20, 0xFFFFFF00);
    put32(bad, table + 40 + 16, 0xFFFFFFFF);
    put32(bad, pe.ntHeadersOffset + 24 + 16, 0xFFFFFFFF);
    out = Scan(bad);
    EXPECT_EQ(PeScanResult::Clean, out.result);
    EXPECT_LE(bytesRead_, 3 * 20480u + 4096 + 1024);

    // Section table cut short by the end of the file.
    std::vector<uint8_t> cut(pe.bytes.begin(), pe.bytes.begin() + table + 40 + 20);
    cut.resize(std::max<std::size_t>(cut.size(), 312));
    out = Scan(cut);
    EXPECT_EQ(PeScanResult::Clean, out.result);
}

// The head read comes first and is all that is read of a file that is no
// executable; the size is asked for only when the head fills its read; no
// byte is read twice; sections laid end to end come in one read; a window
// the buffer holds costs no read.
TEST_F(PeScanTest, ReadsEveryByteOnceInFewReads) {
    std::vector<uint8_t> data = FixtureBytes(9, 20000);
    data[0] = 'T';
    std::vector<uint8_t> dos = data;  // "MZ", then no "PE" where e_lfanew points
    dos[0] = 'M';
    dos[1] = 'Z';
    dos[60] = 0x80;
    dos[61] = dos[62] = dos[63] = 0;
    dos[0x80] = 'X';
    const FixtureLayout small = WithSignature(2048, 1500);    // the whole file fits the head
    const FixtureLayout mid = WithSignature(30000, 29000);    // sections end to end
    const FixtureLayout large = WithSignature(100000, 99000);  // in the last sample
    const FixtureLayout between = WithSignature(100000, 50000);  // between the samples
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        PeScanResult result;
        uint64_t reads, sizeQueries;
    } cases[] = {
        {"data file", data, PeScanResult::NotExecutable, 1, 0},
        {"MZ file with no PE headers", dos, PeScanResult::NotExecutable, 1, 0},
        {"short MZ file", std::vector<uint8_t>(small.bytes.begin(), small.bytes.begin() + 311),
         PeScanResult::NotExecutable, 1, 0},
        {"small executable", small.bytes, PeScanResult::Matched, 1, 0},
        {"sections end to end", mid.bytes, PeScanResult::Matched, 2, 1},
        {"sampled section", large.bytes, PeScanResult::Matched, 3, 1},
        {"entry point region already held", between.bytes, PeScanResult::Clean, 3, 1},
    };
    for (const auto& c : cases) {
        CMemoryFile file(c.bytes);
        const PeScanOutcome out = ScanPeFile(file, index_, headers_, table_, buffer_, true, [] { return false; });
        EXPECT_EQ(c.result, out.result) << c.name;
        EXPECT_EQ(c.reads, file.reads) << c.name;
        EXPECT_EQ(c.sizeQueries, file.sizeQueries) << c.name;
        EXPECT_FALSE(file.ReadTwice()) << c.name;
        ASSERT_FALSE(file.ranges.empty()) << c.name;
        EXPECT_EQ(0u, file.ranges.front().first) << c.name;  // the head first
    }
    // What is searched does not change with what the buffer held before.
    CMemoryFile again(between.bytes);
    EXPECT_EQ(44.0, ScanPeFile(again, index_, headers_, table_, buffer_, true, [] { return false; }).kilobytes);
}

TEST_F(PeScanTest, StopEndsTheScanBeforeAnyRegion) {
    const FixtureLayout pe = WithSignature(4096, 100);
    CMemoryFile file(pe.bytes);
    const PeScanOutcome out = ScanPeFile(file, index_, headers_, table_, buffer_, true, [] { return true; });
    EXPECT_EQ(PeScanResult::Clean, out.result);
    EXPECT_EQ(0.0, out.kilobytes);
}

TEST(ForgeSignatureBytesTest, BuiltinRecordsMatchTheirForgedBytes) {
    for (int i = 0; i < kBuiltinRemoverCount; ++i) {
        const CMalwareRemover& r = *g_builtinRemovers[i];
        uint32_t n = 0;
        const std::vector<uint8_t> bytes =
            ForgeSignatureBytes(r.GetFileSignatureHead(n), r.GetFileSignatureAnchorWord(), r.GetFileSignatureLength(),
                                r.GetFileSignatureAnchorOffset(), r.GetFileSignatureCrc(), 9);
        ASSERT_EQ(r.GetFileSignatureLength(), bytes.size());
        EXPECT_EQ(r.GetFileSignatureCrc(), SignatureCrc(kSignatureCrcInit, bytes.data() + 5, bytes.size() - 5));
        CMalwareRemover* table[] = {g_builtinRemovers[i]};
        CSignatureIndex index;
        index.Build(table, 1);
        std::size_t start = 1;
        EXPECT_EQ(g_builtinRemovers[i], index.FindInFile(bytes.data(), bytes.size(), start)->remover);
        EXPECT_EQ(0u, start);
    }
}

}  // namespace
