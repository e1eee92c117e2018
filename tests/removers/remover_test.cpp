#include "removers/remover.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/index_fixtures.h"
#include "signature/signature_index.h"

namespace {

CSignature MemoryRecord(const CMalwareRemover& r) {
    uint32_t size = 0;
    return CSignature(r.GetMemorySignatureHead(size), r.GetMemorySignatureAnchorWord(),
                      static_cast<uint16_t>(r.GetMemorySignatureLength()),
                      static_cast<uint16_t>(r.GetMemorySignatureAnchorOffset()), r.GetMemorySignatureCrc());
}

CSignature FileRecord(const CMalwareRemover& r) {
    uint32_t size = 0;
    return CSignature(r.GetFileSignatureHead(size), r.GetFileSignatureAnchorWord(),
                      static_cast<uint16_t>(r.GetFileSignatureLength()),
                      static_cast<uint16_t>(r.GetFileSignatureAnchorOffset()), r.GetFileSignatureCrc());
}

TEST(BuiltinRemoversTest, ListOrderNamesAndNullEnd) {
    static const struct {
        const char16_t* family;
        const char16_t* variant;
    } kExpected[] = {{u"Sober", u"J"}, {u"Sober", u"P"}, {u"Sober", u"Y"}, {u"W32/Stanit", u"A"}};
    for (int i = 0; i < kBuiltinRemoverCount; ++i) {
        SCOPED_TRACE(i);
        const CMalwareRemover* r = g_builtinRemovers[i];
        ASSERT_NE(nullptr, r);
        EXPECT_EQ(std::u16string(kExpected[i].family), r->GetFamilyName());
        EXPECT_EQ(std::u16string(kExpected[i].variant), r->GetVariantName());
        EXPECT_FALSE(r->IsScripted());
        uint32_t size = 0;
        r->GetMemorySignatureHead(size);
        EXPECT_EQ(5u, size);
        size = 0;
        r->GetFileSignatureHead(size);
        EXPECT_EQ(5u, size);
    }
    EXPECT_EQ(nullptr, g_builtinRemovers[kBuiltinRemoverCount]);
}

// The built-ins' summaries survive a trip through 15-byte records into a
// scripted remover, and index as their kinds say: W32/Stanit's identical
// memory and file records give one entry of both kinds.
TEST(BuiltinRemoversTest, RecordsRoundTripAndIndex) {
    CSignatureIndex index;
    index.Build(g_builtinRemovers, kBuiltinRemoverCount);
    for (int i = 0; i < kBuiltinRemoverCount; ++i) {
        SCOPED_TRACE(i);
        CMalwareRemover* r = g_builtinRemovers[i];
        const CScriptedMalware copy(MemoryRecord(*r), FileRecord(*r), u"f", u"v", {});
        EXPECT_EQ(MemoryRecord(*r), MemoryRecord(copy));
        EXPECT_EQ(FileRecord(*r), FileRecord(copy));
        EXPECT_EQ(r->GetMemorySignatureLength(), copy.GetMemorySignatureLength());
        EXPECT_EQ(r->GetFileSignatureCrc(), copy.GetFileSignatureCrc());

        const bool stanit = i == 3;
        int fileEntries = 0;
        int memoryEntries = 0;
        for (uint16_t word : {r->GetFileSignatureAnchorWord(), r->GetMemorySignatureAnchorWord()}) {
            for (const SignatureIndexEntry* e = index.Bucket(word); e != nullptr; e = e->next) {
                if (e->remover != r) continue;
                fileEntries += (e->kinds & kMatchesInFiles) != 0;
                memoryEntries += (e->kinds & kMatchesInMemory) != 0;
                if (stanit) {
                    EXPECT_EQ(kMatchesInFiles | kMatchesInMemory, e->kinds);
                }
            }
            if (stanit) break;  // both words are the same bucket
        }
        EXPECT_EQ(1, fileEntries);
        EXPECT_EQ(1, memoryEntries);
    }
}

TEST(ScriptedMalwareTest, BuiltFromRecords) {
    const std::vector<uint8_t> bytes = CRandom(1).Bytes(64);
    const CSignature file = *MakeSignatureRecord(bytes.data(), bytes.size());
    std::vector<CMalwareAction> actions(2);
    actions[0].kind = MalwareActionKind::KillProcess;
    actions[0].arguments = {u"%infected_processes%"};
    actions[1].kind = MalwareActionKind::RemoveFile;
    CScriptedMalware m(CSignature(), file, u"Worm/NetSky", u"P", actions);
    actions[0].arguments.clear();  // the remover keeps its own copy

    EXPECT_TRUE(m.IsScripted());
    EXPECT_TRUE(m.isFirstRemoval);
    EXPECT_FALSE(m.registryTouched);
    EXPECT_EQ(std::u16string(u"Worm/NetSky"), m.GetFamilyName());
    EXPECT_EQ(std::u16string(u"P"), m.GetVariantName());
    ASSERT_EQ(2u, m.Actions().size());
    EXPECT_EQ(std::vector<std::u16string>{u"%infected_processes%"}, m.Actions()[0].arguments);
    EXPECT_EQ(MalwareActionKind::RemoveFile, m.Actions()[1].kind);

    EXPECT_EQ(0u, m.GetMemorySignatureLength());
    EXPECT_EQ(0u, m.GetMemorySignatureAnchorOffset());
    EXPECT_EQ(0u, m.GetMemorySignatureAnchorWord());
    EXPECT_EQ(0u, m.GetMemorySignatureCrc());
    uint32_t size = 0;
    const uint8_t* head = m.GetMemorySignatureHead(size);
    EXPECT_EQ(std::vector<uint8_t>(5, 0), std::vector<uint8_t>(head, head + size));
    EXPECT_EQ(file, FileRecord(m));
    EXPECT_EQ(64u, m.GetFileSignatureLength());
}

}  // namespace
