// The memory scan over a system of the test's own: processes and modules
// with images in memory and files on disk.
#include "scanner/memory_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "common/string_table.h"
#include "common/text16.h"
#include "scan/scan_controller.h"
#include "support/pe_fixture.h"
#include "support/recording_remover.h"

namespace {

// MZ header with e = 64, "PE\0\0" and SizeOfImage `imageSize`, padded to `length`.
std::vector<uint8_t> Headers(uint32_t imageSize, std::size_t length = 4096) {
    std::vector<uint8_t> b(length, 0);
    b[0] = 'M';
    b[1] = 'Z';
    b[60] = 64;
    std::memcpy(&b[64], "PE\0\0", 4);
    for (int i = 0; i < 4; ++i) b[64 + 80 + i] = static_cast<uint8_t>(imageSize >> (8 * i));
    return b;
}

TEST(MemoryScanTest, HeaderImageSizeNeedsWholeHeaders) {
    const std::vector<uint8_t> good = Headers(0x12345, 148);  // e + 84 = 148: SizeOfImage ends at the range's end
    EXPECT_EQ(0x12345u, memscan::HeaderImageSize(good.data(), good.size()));
    EXPECT_EQ(0u, memscan::HeaderImageSize(good.data(), good.size() - 1));
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> spoil;
    } cases[] = {
        {"no MZ", [](std::vector<uint8_t>& b) { b[1] = 'X'; }},
        {"e below 4", [](std::vector<uint8_t>& b) { b[60] = 3; }},
        {"e far out", [](std::vector<uint8_t>& b) { b[60] = 0xF0, b[61] = b[62] = b[63] = 0xFF; }},
        {"no PE signature", [](std::vector<uint8_t>& b) { b[66] = 1; }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = Headers(0x12345);
        c.spoil(b);
        EXPECT_EQ(0u, memscan::HeaderImageSize(b.data(), b.size())) << c.name;
    }
}

TEST(MemoryScanTest, ScanSizeTrustsAgreeingHeadersElseTheFileButNeverLeavesTheImage) {
    struct Case {
        uint64_t reported;
        uint32_t memory, file;
        uint64_t expected;
    } cases[] = {
        {0x20000, 0x20000, 0, 0x20000},      // memory header agrees
        {0x20000, 0x20000, 0x9000, 0x20000}, // the file does not matter then
        {0x20000, 0x10000, 0x18000, 0x18000},
        {0x20000, 0, 0x18000, 0x18000},
        {0x20000, 0x10000, 0, 0},             // neither header usable: nothing read
        {0x20000, 0x10000, 0x30000, 0x20000}, // a larger file size is cut to the image
        {0, 0, 0x8000, 0x8000},
        {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, memscan::ScanSize(c.reported, c.memory, c.file))
            << c.reported << " " << c.memory << " " << c.file;
    }
}

std::vector<std::pair<uint64_t, uint32_t>> Blocks(uint64_t size) {
    std::vector<std::pair<uint64_t, uint32_t>> blocks;
    for (memscan::CBlockWalk walk(size); !walk.Done(); walk.Next()) blocks.emplace_back(walk.Offset(), walk.Length());
    return blocks;
}

TEST(MemoryScanTest, BlocksOverlapBy1024AndTheLastEndsAtTheScanSize) {
    using B = std::vector<std::pair<uint64_t, uint32_t>>;
    EXPECT_EQ(B{}, Blocks(0));
    EXPECT_EQ((B{{0, 1000}}), Blocks(1000));
    EXPECT_EQ((B{{0, 64512}}), Blocks(64512));
    EXPECT_EQ((B{{0, 64513}, {64512, 1}}), Blocks(64513));
    EXPECT_EQ((B{{0, 65536}, {64512, 1024}}), Blocks(65536));
    EXPECT_EQ((B{{0, 65536}, {64512, 65536}, {129024, 65536}, {193536, 6464}}), Blocks(200000));
    // Blocks start 64,512 bytes apart, end at the scan size or 65,536 bytes
    // on, so every window of up to 1,024 bytes lies wholly inside one.
    for (uint64_t size : {1024ull, 65537ull, 129025ull, 1000000ull, 0x7FFFFFFFull}) {
        const B blocks = Blocks(size);
        ASSERT_FALSE(blocks.empty());
        EXPECT_EQ(size, blocks.back().first + blocks.back().second) << size;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(i * 64512ull, blocks[i].first) << size;
            EXPECT_EQ(std::min<uint64_t>(65536, size - blocks[i].first), blocks[i].second) << size;
        }
    }
}

// A PE32 or PE32+ image at `base` with a relocation directory of `blocks`
// (page RVA, entries); characteristics and ImageBase set by the test.
struct RelocImage {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(0x3000, 0);
    bool plus = false;

    RelocImage(bool pe32plus, uint64_t imageBase, uint16_t characteristics) : plus(pe32plus) {
        bytes[0] = 'M', bytes[1] = 'Z', bytes[60] = 0x80;
        std::memcpy(&bytes[0x80], "PE\0\0", 4);
        Put16(0x80 + 22, characteristics);
        Put16(0x80 + 24, plus ? 0x20B : 0x10B);
        if (plus) {
            Put32(0x80 + 24 + 24, static_cast<uint32_t>(imageBase));
            Put32(0x80 + 24 + 28, static_cast<uint32_t>(imageBase >> 32));
        } else {
            Put32(0x80 + 24 + 28, static_cast<uint32_t>(imageBase));
        }
        Put32(0x80 + 24 + (plus ? 108 : 92), 16);
    }
    void Put16(std::size_t at, uint16_t v) { bytes[at] = v & 0xFF, bytes[at + 1] = v >> 8; }
    void Put32(std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    // Writes the directory at RVA 0x1000; block sizes as given (0 = computed).
    void Directory(const std::vector<std::pair<uint32_t, std::vector<uint16_t>>>& blocks,
                   const std::vector<uint32_t>& sizes = {}, uint32_t directorySize = 0) {
        std::size_t at = 0x1000;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const uint32_t size = i < sizes.size() ? sizes[i] : static_cast<uint32_t>(8 + 2 * blocks[i].second.size());
            Put32(at, blocks[i].first);
            Put32(at + 4, size);
            for (std::size_t k = 0; k < blocks[i].second.size(); ++k) Put16(at + 8 + 2 * k, blocks[i].second[k]);
            at += 8 + 2 * blocks[i].second.size();
        }
        const std::size_t entry = 0x80 + 24 + (plus ? 112 : 96) + 40;
        Put32(entry, 0x1000);
        Put32(entry + 4, directorySize != 0 ? directorySize : static_cast<uint32_t>(at - 0x1000));
    }
};

std::vector<uint64_t> Fixups(const RelocImage& image, uint64_t base, uint64_t size = 0) {
    CRelocationTable table;
    const auto read = [&](uint64_t address, uint8_t* buffer, std::size_t count) {
        if (address < base || address - base + count > image.bytes.size()) return false;
        std::memcpy(buffer, &image.bytes[address - base], count);
        return true;
    };
    const bool present = table.Build(read, base, size != 0 ? size : image.bytes.size());
    EXPECT_EQ(present, !table.Addresses().empty());
    return table.Addresses();
}

TEST(MemoryScanTest, RelocationTableListsPointerFixupsOfARelocatedDll) {
    const uint64_t base = 0x10000000;
    using A = std::vector<uint64_t>;
    RelocImage dll(false, 0x400000, 0x2102);
    dll.Directory({{0x2000, {0x3010, 0x0000, 0x3004}}, {0x1000, {0x3FFF, 0xA008}}});
    EXPECT_EQ((A{base + 0x1FFF, base + 0x2004, base + 0x2010}), Fixups(dll, base));

    RelocImage plus(true, 0x180000000ull, 0x2022);
    plus.Directory({{0x2000, {0xA010, 0x3004, 0xA000}}});
    EXPECT_EQ((A{base + 0x2000, base + 0x2010}), Fixups(plus, base));

    RelocImage exe(false, 0x400000, 0x0102);
    exe.Directory({{0x2000, {0x3010}}});
    EXPECT_EQ(A{}, Fixups(exe, base));
    RelocImage atHome(false, base, 0x2102);
    atHome.Directory({{0x2000, {0x3010}}});
    EXPECT_EQ(A{}, Fixups(atHome, base));
    RelocImage overlong(false, 0x400000, 0x2102);
    overlong.Directory({{0x2000, {0x3010}}, {0x1000, {0x3020}}}, {10, 40});
    EXPECT_EQ(A{}, Fixups(overlong, base)) << "a block reaching past the directory rejects it";
    RelocImage shortBlock(false, 0x400000, 0x2102);
    shortBlock.Directory({{0x2000, {0x3010}}, {0x1000, {0x3020}}}, {10, 4});
    EXPECT_EQ(A{base + 0x2010}, Fixups(shortBlock, base)) << "a block under 8 bytes ends the walk";
    RelocImage outside(false, 0x400000, 0x2102);
    outside.Directory({{0x2000, {0x3010}}});
    EXPECT_EQ(A{}, Fixups(outside, base, 0x1008)) << "directory beyond the module";
    RelocImage huge(false, 0x400000, 0x2102);
    huge.Directory({{0x2000, {0x3010}}}, {}, memscan::kMaxRelocationDirectory + 2);
    EXPECT_EQ(A{}, Fixups(huge, base, 0x400000));
}

TEST(MemoryScanTest, FixupsOfABlockAreThoseInsideIt) {
    const uint64_t base = 0x10000000;
    RelocImage dll(false, 0x400000, 0x2102);
    dll.Directory({{0x1000, {0x3000, 0x3FFE, 0x3FFF}}, {0x2000, {0x3000, 0x3800}}});
    CRelocationTable table;
    ASSERT_TRUE(table.Build(
        [&](uint64_t address, uint8_t* buffer, std::size_t count) {
            std::memcpy(buffer, &dll.bytes[address - base], count);
            return true;
        },
        base, dll.bytes.size()));
    EXPECT_EQ(0x400000u, table.PreferredBase());
    using R = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(R(0, 5), table.FixupsIn(base, 0x3000));
    EXPECT_EQ(R(1, 3), table.FixupsIn(base + 0x1001, 0xFFF));
    EXPECT_EQ(R(1, 2), table.FixupsIn(base + 0x1001, 0xFFE));
    EXPECT_EQ(R(3, 4), table.FixupsIn(base + 0x2000, 1));
    EXPECT_EQ(R(5, 5), table.FixupsIn(base + 0x2801, 0x1000));
}

// --- the scan over a system of the test's own ---

struct FakeModule {
    std::u16string path;
    uint64_t base = 0;
    uint64_t reportedSize = 0;
    std::vector<uint8_t> memory;  // the image as the process holds it
    uint64_t readable = UINT64_MAX;  // bytes from the base that can be read
};

struct FakeProcess {
    uint32_t id = 0;
    std::u16string imageName;
    std::vector<FakeModule> modules;
    bool openable = true;
    // Out of the scanning program's reach (a 64-bit process seen from the
    // 32-bit program): its module walk, or every read of it, fails so.
    bool listOutOfReach = false;
    bool readsOutOfReach = false;
};

class FakeSystem : public CMemorySystem {
public:
    std::optional<uint32_t> PlatformId() override { return platform; }
    bool EnableDebugPrivilege() override {
        ++privilegeCalls;
        return privilege;
    }
    bool ProcessApiReady() override { return ready; }
    bool IsWindows9x() override { return platform == 1u; }
    bool OpenProcessList() override {
        next_ = 0;
        return listAvailable;
    }
    bool FirstProcess(MemoryProcessInfo& record) override {
        next_ = 0;
        return NextProcess(record);
    }
    bool NextProcess(MemoryProcessInfo& record) override {
        record = MemoryProcessInfo{};
        if (next_ >= processes.size()) return false;
        record.processId = processes[next_].id;
        record.imageName = processes[next_].imageName;
        ++next_;
        return true;
    }
    void CloseProcessList() override {}
    bool OpenModuleList(uint32_t id) override {
        current_ = Find(id);
        module_ = 0;
        if (current_ != nullptr && current_->listOutOfReach) {
            current_ = nullptr;
            outOfReach_ = true;
            return false;
        }
        if (current_ == nullptr) outOfReach_ = false;
        return current_ != nullptr;
    }
    bool FirstModule(MemoryModuleInfo& record) override {
        module_ = 0;
        return NextModule(record);
    }
    bool NextModule(MemoryModuleInfo& record) override {
        if (current_ == nullptr || module_ >= current_->modules.size()) return false;
        const FakeModule& m = current_->modules[module_++];
        record = {m.path, current_->id, m.base, m.reportedSize};
        return true;
    }
    void CloseModuleList() override { current_ = nullptr; }
    bool OpenProcess(uint32_t id) override {
        opened_ = Find(id);
        if (opened_ != nullptr && !opened_->openable) opened_ = nullptr;
        return opened_ != nullptr;
    }
    std::optional<std::size_t> ReadMemory(uint64_t address, uint8_t* buffer, std::size_t count) override {
        if (opened_ == nullptr) {
            ADD_FAILURE() << "read without an opened process";
            return std::nullopt;
        }
        if (onRead) onRead();
        // As ReadProcessMemory: nothing readable at the address fails with
        // ERROR_PARTIAL_COPY, which tells "out of reach" only at a process's
        // first read.
        outOfReach_ = true;
        if (opened_->readsOutOfReach) return std::nullopt;
        for (const FakeModule& m : opened_->modules) {
            if (address < m.base || address - m.base >= m.memory.size()) continue;
            if (m.reportedSize != 0 && address - m.base + count > m.reportedSize) {
                ADD_FAILURE() << "read beyond the image of " << Utf16ToUtf8(m.path);
            }
            if (address - m.base + count > m.memory.size()) return std::nullopt;
            if (address - m.base >= m.readable) return std::nullopt;
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, m.readable - (address - m.base)));
            std::memcpy(buffer, &m.memory[address - m.base], n);
            if (count == memscan::kBlockSize || count == LastBlock(m, address)) ++blockReads[{opened_->id, m.path}];
            return n;
        }
        outOfReach_ = false;
        return std::nullopt;
    }
    bool OutOfReach() override { return outOfReach_; }
    void CloseProcess() override { opened_ = nullptr; }
    std::size_t ReadFileHead(const std::u16string& path, uint8_t* buffer, std::size_t count) override {
        const auto it = files.find(path);
        if (it == files.end()) return 0;
        const std::size_t n = std::min(count, it->second.size());
        std::memcpy(buffer, it->second.data(), n);
        return n;
    }
    uint32_t TickCount() override { return ticks += 9; }
    void ScanExecutable(CScanController&, const std::u16string& path, std::vector<CMalwareRemover*>& found) override {
        executableChecks.push_back(path);
        found.insert(found.end(), executableHits.begin(), executableHits.end());
    }

    std::optional<uint32_t> platform = 2;
    bool privilege = true, ready = true, listAvailable = true;
    int privilegeCalls = 0;
    std::vector<FakeProcess> processes;
    std::map<std::u16string, std::vector<uint8_t>> files;
    std::vector<std::u16string> executableChecks;
    std::vector<CMalwareRemover*> executableHits;
    std::function<void()> onRead;
    // Reads that look like a module's blocks, by (process, module path).
    std::map<std::pair<uint32_t, std::u16string>, int> blockReads;
    uint32_t ticks = 0xFFFFFFF3u;  // wraps during the scan

private:
    FakeProcess* Find(uint32_t id) {
        for (FakeProcess& p : processes) {
            if (p.id == id) return &p;
        }
        return nullptr;
    }
    static std::size_t LastBlock(const FakeModule& m, uint64_t address) {
        return m.reportedSize > address - m.base ? m.reportedSize - (address - m.base) : 0;
    }
    std::size_t next_ = 0;
    std::size_t module_ = 0;
    FakeProcess* current_ = nullptr;
    FakeProcess* opened_ = nullptr;
    bool outOfReach_ = false;
};

// A module image of `size` bytes with valid headers, the rest pseudo-random,
// with `planted` copied to each of `offsets`.
FakeModule Module(std::u16string path, uint64_t base, uint32_t size, const std::vector<uint8_t>& planted = {},
                  std::vector<uint32_t> offsets = {}) {
    FakeModule m{std::move(path), base, size, FixtureBytes(static_cast<uint32_t>(base >> 16), size)};
    const std::vector<uint8_t> headers = Headers(size, 148);
    std::copy(headers.begin(), headers.end(), m.memory.begin());
    for (uint32_t at : offsets) std::copy(planted.begin(), planted.end(), m.memory.begin() + at);
    return m;
}

std::u16string Text(StringId id) { return LoadText(id); }

struct Session {
    explicit Session(std::optional<std::u16string> script = std::nullopt) : host(std::move(script)) {}
    std::vector<RemoveCall> calls;
    std::vector<uint8_t> builtinSig = FixtureBytes(101, 48);
    std::vector<uint8_t> scriptSig = FixtureBytes(202, 40);
    CScriptTextHost host;
    CCollectingOutput output;
    std::unique_ptr<CScanController> controller;
    CMalwareRemover* builtin = nullptr;
    CMalwareRemover* scripted = nullptr;

    CScanController& Build() {
        std::vector<std::unique_ptr<CMalwareRemover>> removers;
        removers.push_back(std::make_unique<CRecordingRemover>(builtinSig, false, calls));
        removers.push_back(std::make_unique<CRecordingRemover>(scriptSig, true, calls));
        builtin = removers[0].get();
        scripted = removers[1].get();
        controller = std::make_unique<CScanController>(output, host, std::move(removers),
                                                       std::vector<std::unique_ptr<CScanner>>{});
        EXPECT_EQ(0, controller->ConstructionResult());
        return *controller;
    }
};

TEST(MemoryScanTest, FailedChecksPrintTheirTextAndReturnTheirCode) {
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> setUp;
        int32_t code;
        std::u16string text;
    } cases[] = {
        {"version query", [](FakeSystem& s) { s.platform.reset(); }, -3, Text(IDS_ERR_VERSION_QUERY)},
        {"platform 0", [](FakeSystem& s) { s.platform = 0; }, -4, Text(IDS_ERR_UNSUPPORTED_WINDOWS)},
        {"platform 3", [](FakeSystem& s) { s.platform = 3; }, -4, Text(IDS_ERR_UNSUPPORTED_WINDOWS)},
        {"NT privilege", [](FakeSystem& s) { s.privilege = false; }, -5, Text(IDS_ERR_ACCESS_RIGHTS)},
        {"not bound", [](FakeSystem& s) { s.ready = false; }, -11, Text(IDS_ERR_MEMORY_SCANNER_INIT)},
        {"no list", [](FakeSystem& s) { s.listAvailable = false; }, -6,
         Text(IDS_SCANNING_MEMORY) + Text(IDS_ERR_PROCESS_LIST)},
        {"only the idle process", [](FakeSystem& s) { s.processes.clear(); s.processes.push_back({}); s.processes[0].id = 0; },
         0, Text(IDS_SCANNING_MEMORY) + u" " + Text(IDS_DONE) + Text(IDS_NO_MALWARE_IN_MEMORY)},
    };
    for (const Case& c : cases) {
        Session session;
        CScanController& controller = session.Build();
        FakeSystem system;
        c.setUp(system);
        CMemoryScan scan;
        EXPECT_EQ(c.code, scan.Run(controller, system)) << c.name;
        EXPECT_EQ(c.text, session.output.text) << c.name;
        EXPECT_TRUE(session.calls.empty()) << c.name;
    }
}

TEST(MemoryScanTest, FirstProcessFailingWithAnIdEndsTheScanOnNtOnly) {
    // A process list whose first record fails but carries an id.
    class FailingFirst : public FakeSystem {
    public:
        bool FirstProcess(MemoryProcessInfo& record) override {
            FakeSystem::FirstProcess(record);
            return false;
        }
    };
    for (uint32_t platform : {2u, 1u}) {
        Session session;
        CScanController& controller = session.Build();
        FailingFirst system;
        system.platform = platform;
        system.processes.push_back({44, u"a.exe", {Module(u"C:\\a.exe", 0x400000, 0x3000)}});
        CMemoryScan scan;
        EXPECT_EQ(platform == 2 ? -7 : 0, scan.Run(controller, system));
        EXPECT_EQ(platform == 2 ? 0u : 1u, controller.GetStatistics().modules);
        EXPECT_EQ(platform == 2 ? 1 : 0, system.privilegeCalls);
    }
}

TEST(MemoryScanTest, HitsAreCollectedDuringTheWalkAndHandedOverAfterIt) {
    Session session;
    CScanController& controller = session.Build();
    ScanStatistics& stats = controller.GetStatistics();
    stats.removedFiles = stats.registryChanges = stats.files = 5;
    FakeSystem system;
    // The executable carries the built-in signature in three blocks; the
    // library, loaded by both processes, the scripted one in three blocks.
    const FakeModule exe = Module(u"C:\\prog\\run.exe", 0x400000, 200000, session.builtinSig, {200, 70000, 199000});
    const FakeModule dll = Module(u"C:\\Lib\\Shared.dll", 0x10000000, 150000, session.scriptSig, {64000, 100000, 140000});
    FakeModule dllOtherCase = dll;
    dllOtherCase.path = u"c:\\lib\\SHARED.DLL";
    system.processes.push_back({0, u"[System Process]", {}});
    system.processes.push_back({8, u"run.exe", {exe, dll}});
    system.processes.push_back({9, u"run.exe", {exe, dllOtherCase}});
    CMemoryScan scan;
    ASSERT_EQ(0, scan.Run(controller, system));

    // Read: the executable in both processes, the library once.
    using Key = std::pair<uint32_t, std::u16string>;
    EXPECT_EQ((std::map<Key, int>{{{8, exe.path}, 4}, {{9, exe.path}, 4}, {{8, dll.path}, 3}}), system.blockReads);
    EXPECT_EQ(2u, stats.processes);
    EXPECT_EQ(3u, stats.modules);
    EXPECT_EQ(6u + 3u, stats.infectedProcesses);
    EXPECT_EQ(double((65536 / 1024) * 3 + 6464 / 1024) * 2 + (65536 / 1024) * 2 + (150000 - 129024) / 1024, stats.memoryKB);
    EXPECT_EQ(0u, stats.removedFiles + stats.registryChanges);
    EXPECT_EQ(5u, stats.files);
    EXPECT_EQ(9.0, stats.memoryScanMs);

    ASSERT_EQ(7u, session.calls.size());
    for (std::size_t i = 0; i < 6; ++i) {
        const RemoveCall& c = session.calls[i];
        EXPECT_EQ(session.builtin, c.remover);
        EXPECT_EQ(exe.path, c.path);
        EXPECT_EQ(i < 3 ? 8u : 9u, c.processId);
        EXPECT_EQ(DetectionSource::Memory, c.source);
        EXPECT_EQ(i < 5, c.moreFollow) << i;
    }
    const RemoveCall& s = session.calls[6];
    EXPECT_EQ(session.scripted, s.remover);
    EXPECT_FALSE(s.hasPath);
    EXPECT_TRUE(s.moreFollow);
    ASSERT_EQ(1u, s.records.size());
    EXPECT_EQ(dll.path, std::u16string(s.records[0].path));
    EXPECT_EQ(8u, s.records[0].processId);

    EXPECT_EQ(Text(IDS_SCANNING_MEMORY) + u" " + Text(IDS_DONE), session.output.text);
    const std::vector<std::u16string> status = session.output.status;
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(u" " + Text(IDS_SCANNING_MEMORY), status.front());
    EXPECT_EQ(u"", status.back());
    EXPECT_NE(status.end(), std::find(status.begin(), status.end(), Format16(Text(IDS_SCANNING_MODULE), {dll.path})));
}

TEST(MemoryScanTest, SizeOfAModuleWhoseHeaderDisagreesComesFromItsFile) {
    Session session;
    CScanController& controller = session.Build();
    struct Case {
        const char* name;
        uint32_t memoryHeaderSize;
        std::optional<uint32_t> fileHeaderSize;
        bool found;
    } cases[] = {
        {"memory header agrees", 0x30000, std::nullopt, true},
        {"file size covers the signature", 0x1000, 0x20000, true},
        {"file size ends before it", 0x1000, 0x10000, false},
        {"no file", 0x1000, std::nullopt, false},
        {"no header in memory, none on disk", 0, 0, false},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        FakeModule m = Module(u"C:\\odd.exe", 0x400000, 0x30000, session.builtinSig, {0x18000});
        const std::vector<uint8_t> headers = Headers(c.memoryHeaderSize, 148);
        std::copy(headers.begin(), headers.end(), m.memory.begin());
        if (c.memoryHeaderSize == 0) m.memory[0] = 0;
        if (c.fileHeaderSize) system.files[m.path] = Headers(*c.fileHeaderSize, 4096);
        system.processes.push_back({5, u"odd.exe", {m}});
        CMemoryScan scan;
        session.calls.clear();
        ASSERT_EQ(0, scan.Run(controller, system)) << c.name;
        EXPECT_EQ(c.found ? 1u : 0u, session.calls.size()) << c.name;
        EXPECT_EQ(1u, controller.GetStatistics().modules) << c.name;
    }
}

TEST(MemoryScanTest, ExecutableCheckRecordsScriptedFileHitsOfFirstModules) {
    const std::vector<uint8_t> fileSig = FixtureBytes(303, 36);
    for (uint32_t platform : {2u, 1u}) {
        Session session(u"[Malware File.Only]\r\nSIGNATURE_FILE " + HexText(fileSig) + u"\r\nKILL_PROCESS %infected_processes%\r\n");
        CScanController& controller = session.Build();
        ASSERT_TRUE(controller.HasDescriptionWithoutMemorySignature());
        CMalwareRemover* fileOnly = controller.Removers().back().get();
        FakeSystem system;
        system.platform = platform;
        system.executableHits = {session.builtin, fileOnly, fileOnly};
        system.processes.push_back({30, u"C:\\Image.exe", {Module(u"C:\\mod\\first.exe", 0x400000, 0x2000),
                                                           Module(u"C:\\mod\\k32.dll", 0x7000000, 0x2000)}});
        system.processes.push_back({31, u"C:\\Other.exe", {Module(u"C:\\mod\\k32.dll", 0x7000000, 0x2000),
                                                           Module(u"C:\\mod\\second.exe", 0x500000, 0x2000)}});
        CMemoryScan scan;
        ASSERT_EQ(0, scan.Run(controller, system));
        // 9x checks the image name; NT the first module; a first module
        // skipped as already read leaves the flag to the next one.
        const std::vector<std::u16string> expected =
            platform == 1 ? std::vector<std::u16string>{u"C:\\Image.exe", u"C:\\Other.exe"}
                          : std::vector<std::u16string>{u"C:\\mod\\first.exe", u"C:\\mod\\second.exe"};
        EXPECT_EQ(expected, system.executableChecks);
        EXPECT_EQ(4u, controller.GetStatistics().infectedProcesses);
        ASSERT_EQ(1u, scan.Hits().Scripted().size());
        const ScriptMemoryHit& hit = scan.Hits().Scripted()[0];
        EXPECT_EQ(fileOnly, hit.remover);
        ASSERT_EQ(2u, hit.processes.size());
        EXPECT_EQ(expected[0], std::u16string(hit.processes[0].path));
        EXPECT_EQ(30u, hit.processes[0].processId);
        EXPECT_EQ(31u, hit.processes[1].processId);
        EXPECT_TRUE(scan.Hits().Builtins().empty());
        EXPECT_TRUE(session.calls.empty()) << "the scripted Remove is the description's own";
    }
}

TEST(MemoryScanTest, UnopenableProcessIsNamedAndPassedOver) {
    Session session;
    CScanController& controller = session.Build();
    FakeSystem system;
    system.processes.push_back({3, u"guarded.exe", {Module(u"C:\\g.exe", 0x400000, 0x2000, session.builtinSig, {300})}});
    system.processes[0].openable = false;
    system.processes.push_back({4, u"b.exe", {Module(u"C:\\b.exe", 0x400000, 0x2000, session.builtinSig, {300})}});
    CMemoryScan scan;
    ASSERT_EQ(0, scan.Run(controller, system));
    EXPECT_EQ(Text(IDS_SCANNING_MEMORY) + Format16(Text(IDS_CANNOT_OPEN_PROCESS), {u"guarded.exe"}) + u" " +
                  Text(IDS_DONE),
              session.output.text);
    ASSERT_EQ(1u, session.calls.size());
    EXPECT_EQ(4u, session.calls[0].processId);
    EXPECT_FALSE(session.calls[0].moreFollow);
}

// A 64-bit process seen from the 32-bit program: its module walk fails, or
// (had it been listed) its first read does. It is passed over without a
// message, counted, and the walk goes on with the next process.
TEST(MemoryScanTest, ProcessOutOfReachIsPassedOverSilentlyAndCounted) {
    struct Case {
        const char* name;
        bool listOutOfReach, readsOutOfReach;
    } cases[] = {
        {"module walk out of reach", true, false},
        {"first read out of reach", false, true},
    };
    for (const Case& c : cases) {
        Session session;
        CScanController& controller = session.Build();
        FakeSystem system;
        system.processes.push_back({3, u"wide.exe",
                                    {Module(u"C:\\w.exe", 0x400000, 0x2000, session.builtinSig, {300}),
                                     Module(u"C:\\w.dll", 0x800000, 0x2000, session.builtinSig, {300})}});
        system.processes[0].listOutOfReach = c.listOutOfReach;
        system.processes[0].readsOutOfReach = c.readsOutOfReach;
        system.processes.push_back({4, u"b.exe", {Module(u"C:\\b.exe", 0x400000, 0x2000, session.builtinSig, {300}),
                                                  Module(u"C:\\b.dll", 0x800000, 0x2000)}});
        CMemoryScan scan;
        ASSERT_EQ(0, scan.Run(controller, system)) << c.name;
        EXPECT_EQ(Text(IDS_SCANNING_MEMORY) + u" " + Text(IDS_DONE), session.output.text) << c.name;
        const ScanStatistics& stats = controller.GetStatistics();
        EXPECT_EQ(1u, stats.unreadableProcesses) << c.name;
        EXPECT_EQ(1u, stats.processes) << c.name;
        EXPECT_EQ(2u, stats.modules) << c.name;  // the other process's two
        ASSERT_EQ(1u, session.calls.size()) << c.name;
        EXPECT_EQ(4u, session.calls[0].processId) << c.name;
        EXPECT_EQ((std::map<std::pair<uint32_t, std::u16string>, int>{{{4, u"C:\\b.exe"}, 1}, {{4, u"C:\\b.dll"}, 1}}),
                  system.blockReads)
            << c.name;
    }
}

// A read that fails after one of the process succeeded is no sign of a
// process out of reach: only that module gives nothing.
TEST(MemoryScanTest, UnreadableModuleOfAReadProcessIsNoProcessOutOfReach) {
    Session session;
    CScanController& controller = session.Build();
    FakeSystem system;
    FakeModule gone = Module(u"C:\\gone.dll", 0x800000, 0x2000, session.builtinSig, {300});
    gone.readable = 0;
    system.processes.push_back({3, u"a.exe", {Module(u"C:\\a.exe", 0x400000, 0x2000), gone,
                                              Module(u"C:\\c.dll", 0x900000, 0x2000, session.builtinSig, {300})}});
    CMemoryScan scan;
    ASSERT_EQ(0, scan.Run(controller, system));
    EXPECT_EQ(0u, controller.GetStatistics().unreadableProcesses);
    EXPECT_EQ(1u, controller.GetStatistics().processes);
    EXPECT_EQ(3u, controller.GetStatistics().modules);
    ASSERT_EQ(1u, session.calls.size());
    EXPECT_EQ(u"C:\\c.dll", session.calls[0].path);
}

// A block running into an unreadable page is searched as far as it was read.
TEST(MemoryScanTest, PartlyReadableBlockIsSearchedAsFarAsItWasRead) {
    struct Case {
        const char* name;
        uint32_t signatureAt;
        bool found;
    } cases[] = {
        {"in the first, whole block", 0x1000, true},
        {"in what was read of the second block", 0x11000, true},
        {"across the end of what was read", 0x12000 - 20, false},
        {"beyond it", 0x20000, false},
    };
    for (const Case& c : cases) {
        Session session;
        CScanController& controller = session.Build();
        FakeSystem system;
        FakeModule m = Module(u"C:\\partly.exe", 0x400000, 0x30000, session.builtinSig, {c.signatureAt});
        m.readable = 0x12000;
        system.processes.push_back({5, u"partly.exe", {m}});
        CMemoryScan scan;
        ASSERT_EQ(0, scan.Run(controller, system)) << c.name;
        EXPECT_EQ(c.found ? 1u : 0u, session.calls.size()) << c.name;
        // 64 KB of the first block, 9 KB of the second (64,512 to 73,728).
        EXPECT_EQ(64.0 + 9.0, controller.GetStatistics().memoryKB) << c.name;
        EXPECT_EQ(0u, controller.GetStatistics().unreadableProcesses) << c.name;
    }
}

TEST(MemoryScanTest, StopAfterAModuleAbortsWithoutRemove) {
    Session session;
    CScanController& controller = session.Build();
    FakeSystem system;
    system.processes.push_back({3, u"a.exe", {Module(u"C:\\a.exe", 0x400000, 0x2000, session.builtinSig, {300}),
                                              Module(u"C:\\a.dll", 0x800000, 0x2000, session.scriptSig, {300})}});
    system.processes.push_back({4, u"b.exe", {Module(u"C:\\b.exe", 0x400000, 0x2000)}});
    system.onRead = [&] { controller.RequestStop(); };
    CMemoryScan scan;
    EXPECT_EQ(kScanAborted, scan.Run(controller, system));
    EXPECT_TRUE(session.calls.empty());
    EXPECT_EQ(1u, controller.GetStatistics().modules);
    EXPECT_NE(0.0, controller.GetStatistics().memoryScanMs);
    EXPECT_EQ(Text(IDS_SCANNING_MEMORY), session.output.text);
    EXPECT_TRUE(scan.Hits().Builtins().empty());
}

TEST(MemoryScanTest, StatusTextStaysWithinItsBuffer) {
    Session session;
    CScanController& controller = session.Build();
    FakeSystem system;
    const std::u16string longPath(1500, u'x');
    system.processes.push_back({3, u"a.exe", {Module(longPath, 0x400000, 0x2000)}});
    CMemoryScan scan;
    ASSERT_EQ(0, scan.Run(controller, system));
    std::size_t longest = 0;
    for (const auto& s : session.output.status) longest = std::max(longest, s.size());
    EXPECT_EQ(memscan::kStatusUnits - 1, longest);
}

TEST(MemoryScanTest, HitCollectionsKeepOneRecordPerProcessForScriptedMalware) {
    std::vector<RemoveCall> calls;
    CRecordingRemover a(FixtureBytes(1, 32), true, calls), b(FixtureBytes(2, 32), true, calls),
        c(FixtureBytes(3, 32), false, calls);
    CMemoryHits hits;
    hits.Record(&c, u"m1", 1);
    hits.Record(&a, u"m1", 1);
    hits.Record(&b, u"m2", 2);
    hits.Record(&a, u"m3", 1);
    hits.Record(&a, u"m4", 2);
    hits.Record(&c, u"m1", 1);
    hits.Record(&c, std::u16string(300, u'p'), 7);
    ASSERT_EQ(3u, hits.Builtins().size());
    EXPECT_EQ(259u, std::char_traits<char16_t>::length(hits.Builtins()[2].modulePath));
    ASSERT_EQ(2u, hits.Scripted().size());
    EXPECT_EQ(&a, hits.Scripted()[0].remover);
    ASSERT_EQ(2u, hits.Scripted()[0].processes.size());
    EXPECT_EQ(u"m1", std::u16string(hits.Scripted()[0].processes[0].path));
    EXPECT_EQ(u"m4", std::u16string(hits.Scripted()[0].processes[1].path));
    EXPECT_EQ(&b, hits.Scripted()[1].remover);
}

}  // namespace
