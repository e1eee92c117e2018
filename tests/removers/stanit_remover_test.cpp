#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "removers/remover.h"
#include "removers/stanit_repair.h"
#include "scanner/pe_scan.h"
#include "signature/signature_index.h"
#include "support/memory_file.h"
#include "support/pe_fixture.h"
#include "support/removal_recorder.h"

namespace {

const uint8_t kStanitHead[5] = {0x3F, 0x4D, 0x5A, 0x75, 0xF5};
constexpr uint32_t kHostPrefix = 16;  // bytes of the section before the virus code
const char16_t kPath[] = u"C:\\apps\\infected.exe";
const std::u16string kHeadline = u"W32/Stanit was found in file C:\\apps\\infected.exe !\r\nattempting to repair executable ...";

CStanitRemover& Stanit() { return *static_cast<CStanitRemover*>(g_builtinRemovers[3]); }

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// 3,666 bytes of virus code: the entry code with the displaced entry point,
// the detected signature, filler.
std::vector<uint8_t> VirusCode(uint32_t hostEntry) {
    std::vector<uint8_t> code = {0x52, 0x60, 0xB9, 0, 0, 0, 0, 0xE8, 0x10, 0x00, 0x00, 0x00};
    for (int i = 0; i < 4; ++i) code[3 + i] = static_cast<uint8_t>(hostEntry >> (8 * i));
    const std::vector<uint8_t> signature = ForgeSignatureBytes(kStanitHead, 44408, 91, 30, 0x3EC25CB7);
    code.insert(code.end(), signature.begin(), signature.end());
    const std::vector<uint8_t> filler = FixtureBytes(7, stanit::kVirusCodeSize - code.size());
    code.insert(code.end(), filler.begin(), filler.end());
    return code;
}

struct Infected {
    FixtureLayout layout;
    uint32_t entryOffset = 0;
    uint32_t hostEntry = 0;
};

// One section: kHostPrefix bytes of host code, the virus code at the entry
// point, then `after` bytes.
Infected BuildInfected(bool pe32plus, const std::vector<uint8_t>& after) {
    Infected f;
    FixturePlan plan;
    plan.pe32plus = pe32plus;
    FixtureSection text;
    text.name = ".text";
    text.characteristics = 0x60000020;
    text.data = FixtureBytes(3, kHostPrefix);
    f.hostEntry = 0x1000 + 4;
    const std::vector<uint8_t> virus = VirusCode(f.hostEntry);
    text.data.insert(text.data.end(), virus.begin(), virus.end());
    text.data.insert(text.data.end(), after.begin(), after.end());
    text.data.resize(text.data.size() + 64, 0);
    plan.sections.push_back(text);
    plan.entryPoint = 0x1000 + kHostPrefix;
    f.layout = BuildPe(plan);
    f.entryOffset = f.layout.sectionOffsets[0] + kHostPrefix;
    return f;
}

// Scans the bytes as the file scan does, leaving the work area in `system`.
void ScanInto(const std::vector<uint8_t>& bytes, CRecordingSystem& system, std::vector<uint8_t>& table) {
    CSignatureIndex index;
    index.Build(g_builtinRemovers, kBuiltinRemoverCount);
    CMemoryFile file(bytes);
    std::vector<uint8_t> buffer;
    const PeScanOutcome out = ScanPeFile(file, index, system.headers, table, buffer, true, [] { return false; });
    ASSERT_EQ(PeScanResult::Matched, out.result);
    ASSERT_EQ(&Stanit(), out.match->remover);
}

// The infected bytes as the repair leaves them.
std::vector<uint8_t> RepairedBytes(const Infected& f, std::vector<uint8_t> bytes) {
    Put32(bytes, f.layout.ntHeadersOffset + 40, f.hostEntry);
    const std::size_t end = std::min<std::size_t>(bytes.size(), f.entryOffset + stanit::kVirusCodeSize);
    std::fill(bytes.begin() + f.entryOffset, bytes.begin() + static_cast<std::ptrdiff_t>(end), 0);
    return bytes;
}

struct RepairCase {
    const char* name;
    bool pe32plus;
    std::vector<uint8_t> after;   // bytes after the virus code
    int64_t cutAfterEntry;        // file length from the entry point, or -1 for the whole file
    int32_t result;
};

TEST(StanitRepairTest, InfectedFilesGetEntryPointBackAndVirusCodeZeroed) {
    std::vector<uint8_t> trailNonZero(11, 0);
    trailNonZero[10] = 0x90;  // o + 3,676
    std::vector<uint8_t> onlyGapByte(11, 0);
    onlyGapByte[0] = 0xC3;  // o + 3,666: between the zeroed range and the checked bytes
    const std::vector<RepairCase> cases = {
        {"clean trail", false, {}, -1, kStanitRepaired},
        {"clean trail PE32+", true, {}, -1, kStanitRepaired},
        {"gap byte not checked", false, onlyGapByte, -1, kStanitRepaired},
        {"host code after virus", false, trailNonZero, -1, kStanitHostOverwritten},
        {"host code after virus PE32+", true, trailNonZero, -1, kStanitHostOverwritten},
        {"virus code reaches end", false, std::vector<uint8_t>(20, 0xAA), 3667 + 9, kStanitRepaired},
        {"file ends inside virus code", false, {}, 2000, kStanitRepaired},
    };
    for (const RepairCase& c : cases) {
        SCOPED_TRACE(c.name);
        Infected f = BuildInfected(c.pe32plus, c.after);
        std::vector<uint8_t> bytes = f.layout.bytes;
        if (c.cutAfterEntry >= 0) bytes.resize(f.entryOffset + static_cast<std::size_t>(c.cutAfterEntry));
        CRecordingSystem system;
        std::vector<uint8_t> table;
        ScanInto(bytes, system, table);
        const std::vector<uint8_t> expected = RepairedBytes(f, bytes);
        system.file = &bytes;
        CTestSession session;
        const uint32_t noProcess = 0;
        Stanit().Remove(session.controller, kPath, &noProcess, DetectionSource::File, false);

        EXPECT_EQ(expected.size(), bytes.size());
        EXPECT_TRUE(expected == bytes);
        EXPECT_EQ(f.hostEntry, pe::Read32(bytes.data() + f.layout.ntHeadersOffset + 40));
        if (c.result == kStanitRepaired) {
            EXPECT_EQ(kHeadline + u"done\r\nW32/Stanit was successfully removed.\r\n", session.output.text);
            EXPECT_EQ(1u, session.controller.GetStatistics().removedFiles);
        } else {
            EXPECT_EQ(kHeadline +
                          u"File was possibly destroyed by W32/Stanit and should be retrieved from backup.\r\n"
                          u"Virus component has been disabled.\r\n",
                      session.output.text);
            EXPECT_EQ(0u, session.controller.GetStatistics().removedFiles);
        }
    }
}

TEST(StanitRepairTest, EntryCodeNotMatchingLeavesFileUnchangedAndCountsRepaired) {
    for (std::size_t at : {0u, 1u, 2u, 7u}) {
        SCOPED_TRACE(at);
        Infected f = BuildInfected(false, {});
        std::vector<uint8_t> bytes = f.layout.bytes;
        bytes[f.entryOffset + at] ^= 0x01;
        const std::vector<uint8_t> before = bytes;
        CRecordingSystem system;
        std::vector<uint8_t> table;
        ScanInto(bytes, system, table);
        system.file = &bytes;
        CTestSession session;
        const uint32_t noProcess = 0;
        Stanit().Remove(session.controller, kPath, &noProcess, DetectionSource::File, false);
        EXPECT_TRUE(before == bytes);
        EXPECT_EQ(kHeadline + u"done\r\nW32/Stanit was successfully removed.\r\n", session.output.text);
        EXPECT_EQ(1u, session.controller.GetStatistics().removedFiles);
    }
}

TEST(StanitRepairTest, FailuresLeaveFileUnchangedAndAreNotCounted) {
    struct Case {
        const char* name;
        bool writable;
        int64_t cutAfterEntry;
        const char16_t* lines;
    } cases[] = {
        {"read-only", false, -1, u"failed to open\r\nW32/Stanit was not removed!\r\n"},
        {"entry code cut short", true, 6, u"failed\r\nW32/Stanit was not removed!\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Infected f = BuildInfected(false, {});
        std::vector<uint8_t> bytes = f.layout.bytes;
        if (c.cutAfterEntry >= 0) bytes.resize(f.entryOffset + static_cast<std::size_t>(c.cutAfterEntry));
        CRecordingSystem system;
        // The headers as the scan of the whole file left them.
        std::vector<uint8_t> table;
        ScanInto(f.layout.bytes, system, table);
        const std::vector<uint8_t> before = bytes;
        if (c.writable) system.file = &bytes;
        CTestSession session;
        const uint32_t noProcess = 0;
        Stanit().Remove(session.controller, kPath, &noProcess, DetectionSource::File, false);
        EXPECT_TRUE(before == bytes);
        EXPECT_EQ(kHeadline + c.lines, session.output.text);
        EXPECT_EQ(0u, session.controller.GetStatistics().removedFiles);
        EXPECT_EQ(std::vector<std::u16string>{u"OpenForRepair(C:\\apps\\infected.exe)"}, system.calls);
    }
}

// Entry point at file offset 512: deleted, whatever is there and whether or
// not the file could be written.
TEST(StanitRepairTest, DropperIsDeletedWithoutBeingOpened) {
    struct Case {
        int removeResult;
        const char16_t* lines;
    } cases[] = {
        {1, u"file is dropper, removing executable ...done\r\n"},
        {2, u"file is dropper, removing executable ...done\r\n"},
        {0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removeResult);
        Infected f = BuildInfected(false, {});
        std::vector<uint8_t> bytes = f.layout.bytes;
        // The section's raw data moves to 512, where the virus code then begins.
        Put32(bytes, f.layout.sectionTableOffset + 20, 512);
        const std::vector<uint8_t> virus = VirusCode(f.hostEntry);
        std::copy(virus.begin(), virus.end(), bytes.begin() + 512);
        Put32(bytes, f.layout.ntHeadersOffset + 40, 0x1000);
        CRecordingSystem system;
        std::vector<uint8_t> table;
        ScanInto(bytes, system, table);
        ASSERT_EQ(512u, StanitEntryOffset(system.headers));
        const std::vector<uint8_t> before = bytes;
        system.file = &bytes;
        system.removeDefault = c.removeResult;
        CTestSession session;
        const uint32_t noProcess = 0;
        Stanit().Remove(session.controller, kPath, &noProcess, DetectionSource::File, false);
        EXPECT_TRUE(before == bytes);
        EXPECT_EQ(kHeadline + c.lines, session.output.text);
        EXPECT_EQ(std::vector<std::u16string>{u"RemoveFile(C:\\apps\\infected.exe)"}, system.calls);
    }
}

TEST(StanitRemoverTest, MemoryHitTerminatesTheProcessWithWarnings) {
    CRecordingSystem system;
    system.terminateResults[77] = 0;  // the result is not looked at
    CTestSession session;
    const uint32_t processId = 77;
    for (int call = 0; call < 2; ++call) {
        Stanit().Remove(session.controller, u"C:\\apps\\host.exe", &processId, DetectionSource::Memory, call == 0);
    }
    const std::u16string once =
        u"W32/Stanit file infector was found in memory !\r\n"
        u"WARNING DO NOT RUN OR START ANY PROGRAMS!\r\n"
        u"WARNING DO NOT INTERRUPT THE SCANNING PROCESS!\r\n"
        u"WARNING AFTER COMPLETION RESCAN YOUR SYSTEM!\r\n"
        u"terminating process ...done\r\n"
        u"W32/Stanit was successfully removed from memory.\r\n";
    EXPECT_EQ(once + once, session.output.text);
    EXPECT_EQ((std::vector<std::u16string>{u"TerminateProcessById(77)", u"TerminateProcessById(77)"}), system.calls);
    EXPECT_EQ(0u, session.controller.GetStatistics().removedFiles);
}

}  // namespace
