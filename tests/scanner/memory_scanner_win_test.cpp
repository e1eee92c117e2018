// The memory scanner on the running system: fixture processes whose images
// carry planted signatures, found among all the processes of the session.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/string_table.h"
#include "common/text16.h"
#include "support/pe_fixture.h"
#include "support/recording_remover.h"
#include "support/win_support.h"
#include "common/wow64_win.h"
#include "scanner/memory_scanner_win.h"
#include "scanner/process_api_win.h"

namespace {

std::u16string U16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }
std::u16string Text16(StringId id) { return LoadText(id); }

std::wstring TempDir() {
    wchar_t buffer[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, buffer);
    return buffer;
}

bool Write(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    return WriteBytes(std::string(path.begin(), path.end()), bytes);
}

std::vector<uint8_t> Planted(uint32_t seed, std::size_t size, const std::vector<std::pair<std::size_t, std::vector<uint8_t>>>& at) {
    std::vector<uint8_t> data = FixtureBytes(seed, size);
    for (const auto& [offset, bytes] : at) std::copy(bytes.begin(), bytes.end(), data.begin() + offset);
    return data;
}

// A sleeping executable with `data` in a section of its own.
std::vector<uint8_t> SleeperImage(const std::vector<uint8_t>& data) {
    FixturePlan fixture;
    fixture.pe32plus = sizeof(void*) == 8;
    fixture.runnable = true;
    FixtureSection section;
    section.data = data;
    fixture.sections.push_back(section);
    return BuildPe(fixture).bytes;
}

// A DLL whose entry point only returns TRUE, preferring a base of its own,
// with `data` in a section.
std::vector<uint8_t> LibraryImage(const std::vector<uint8_t>& data) {
    FixturePlan fixture;
    fixture.pe32plus = sizeof(void*) == 8;
    fixture.dll = true;
    FixtureSection code;
    code.name = ".text";
    code.data = fixture.pe32plus ? std::vector<uint8_t>{0xB8, 1, 0, 0, 0, 0xC3}              // mov eax, 1; ret
                                 : std::vector<uint8_t>{0xB8, 1, 0, 0, 0, 0xC2, 0x0C, 0x00};  // ...; ret 12
    code.characteristics = 0x60000020;
    FixtureSection section;
    section.data = data;
    fixture.sections = {code, section};
    FixtureLayout layout = BuildPe(fixture);
    const uint32_t base = 0x6A000000;
    const std::size_t at = layout.ntHeadersOffset + 24 + (fixture.pe32plus ? 24 : 28);
    for (int i = 0; i < (fixture.pe32plus ? 8 : 4); ++i) layout.bytes[at + i] = i < 4 ? static_cast<uint8_t>(base >> (8 * i)) : 0;
    return layout.bytes;
}

// A started fixture process, ended when its owner goes away.
class Sleeper {
public:
    explicit Sleeper(const std::wstring& path) {
        std::wstring command = L"\"" + path + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            process_.reset(info.hProcess);
            id_ = info.dwProcessId;
            Sleep(300);  // let the loader finish before the process is walked
        }
    }
    ~Sleeper() {
        if (!process_) return;
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }

    // Makes the process load `dll` (LoadLibraryW on a thread of its own).
    bool Load(const std::wstring& dll) {
        const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
        void* remote = VirtualAllocEx(process_.get(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (remote == nullptr || !WriteProcessMemory(process_.get(), remote, dll.c_str(), bytes, nullptr)) return false;
        auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
        UniqueHandle thread(CreateRemoteThread(process_.get(), nullptr, 0, load, remote, 0, nullptr));
        if (!thread || WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        return GetExitCodeThread(thread.get(), &code) && code != 0;
    }

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// The fixture files of one test, deleted at the end.
class FixtureFiles {
public:
    std::wstring Add(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        const std::wstring path = TempDir() + L"tesmora_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
        EXPECT_TRUE(Write(path, bytes));
        paths_.push_back(path);
        return path;
    }
    ~FixtureFiles() {
        for (const auto& p : paths_) DeleteFileW(p.c_str());
    }

private:
    std::vector<std::wstring> paths_;
};

struct WinSession {
    explicit WinSession(std::optional<std::u16string> script) : host(std::move(script)) {}

    CScanController& Build() {
        std::vector<std::unique_ptr<CMalwareRemover>> removers;
        removers.push_back(std::make_unique<CRecordingRemover>(builtinSig, false, calls));
        builtin = removers.back().get();
        auto owned = std::make_unique<CMemoryScanner>();
        scanner = owned.get();
        std::vector<std::unique_ptr<CScanner>> phases;
        phases.push_back(std::move(owned));
        controller = std::make_unique<CScanController>(output, host, std::move(removers), std::move(phases));
        EXPECT_EQ(0, controller->ConstructionResult());
        return *controller;
    }
    const CMalwareRemover* Named(const char16_t* family, const char16_t* variant) const {
        for (const auto& r : controller->Removers()) {
            if (std::u16string(r->GetFamilyName()) == family && std::u16string(r->GetVariantName()) == variant) {
                return r.get();
            }
        }
        return nullptr;
    }

    std::vector<RemoveCall> calls;
    std::vector<uint8_t> builtinSig = FixtureBytes(9101, 48);
    CScriptTextHost host;
    CCollectingOutput output;
    CMalwareRemover* builtin = nullptr;
    CMemoryScanner* scanner = nullptr;
    std::unique_ptr<CScanController> controller;  // last: goes first
};

// The name of `path` after its last backslash.
std::wstring BaseName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

TEST(MemoryScannerWinTest, FindsPlantedProcessesAndHandsEachHitOverOnce) {
    const std::vector<uint8_t> memorySig = FixtureBytes(9202, 40), fileSig = FixtureBytes(9303, 44);
    WinSession session(u"[Malware Test.Mem]\r\nSIGNATURE_MEM " + HexText(memorySig) +
                       u"\r\nKILL_PROCESS %infected_processes%\r\n[Malware Test.File]\r\nSIGNATURE_FILE " +
                       HexText(fileSig) + u"\r\nKILL_PROCESS %infected_processes%\r\n");
    FixtureFiles files;
    const std::wstring exe = files.Add(L"sleeper.exe", SleeperImage(Planted(1, 6000, {{512, session.builtinSig}, {3000, fileSig}})));
    const std::wstring dll = files.Add(L"shared.dll", LibraryImage(Planted(2, 3000, {{1000, memorySig}})));
    CScanController& controller = session.Build();
    ASSERT_TRUE(controller.HasDescriptionWithoutMemorySignature());
    Sleeper first(exe), second(exe);
    ASSERT_TRUE(first.started() && second.started());
    ASSERT_TRUE(first.Load(dll));
    ASSERT_TRUE(second.Load(dll));

    // On 9x/ME the executable check opens the image name, which Wine gives
    // without its folder: scan from the fixtures' folder.
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(TempDir().c_str());
    const int32_t result = session.scanner->Scan(nullptr, nullptr, nullptr);
    SetCurrentDirectoryW(previous);
    ASSERT_EQ(0, result);

    // The built-in remover: one Remove per process running the executable.
    ASSERT_EQ(2u, session.calls.size()) << Utf16ToUtf8(session.output.text);
    std::vector<uint32_t> ids;
    for (std::size_t i = 0; i < 2; ++i) {
        const RemoveCall& c = session.calls[i];
        EXPECT_EQ(session.builtin, c.remover);
        EXPECT_TRUE(EqualsIgnoreCase(U16(BaseName(exe)), U16(BaseName(std::wstring(c.path.begin(), c.path.end())))));
        EXPECT_EQ(DetectionSource::Memory, c.source);
        EXPECT_EQ(i == 0, c.moreFollow);
        ids.push_back(c.processId);
    }
    std::sort(ids.begin(), ids.end());
    std::vector<uint32_t> expected{first.id(), second.id()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ids);

    // The scripted ones: the executable's file in both processes, the
    // library read once, in the first process the walk met it in.
    const std::vector<ScriptMemoryHit>& scripted = session.scanner->Hits().Scripted();
    ASSERT_EQ(2u, scripted.size());
    EXPECT_EQ(session.Named(u"Test", u"File"), scripted[0].remover);
    ASSERT_EQ(2u, scripted[0].processes.size());
    EXPECT_EQ(session.calls[0].processId, scripted[0].processes[0].processId);
    EXPECT_EQ(session.calls[1].processId, scripted[0].processes[1].processId);
    EXPECT_EQ(session.Named(u"Test", u"Mem"), scripted[1].remover);
    ASSERT_EQ(1u, scripted[1].processes.size());
    EXPECT_EQ(session.calls[0].processId, scripted[1].processes[0].processId);
    EXPECT_TRUE(EqualsIgnoreCase(U16(BaseName(dll)),
                                 U16(BaseName(std::wstring(scripted[1].processes[0].path,
                                                           scripted[1].processes[0].path +
                                                               std::char_traits<char16_t>::length(scripted[1].processes[0].path))))));

    const ScanStatistics& stats = controller.GetStatistics();
    EXPECT_EQ(2u + 2u + 1u, stats.infectedProcesses);
    EXPECT_GE(stats.processes, 3u);
    // The scripted removers ran after the walk: both processes terminated and
    // their executable removed for Test.File, the first process for Test.Mem.
    EXPECT_EQ(Text16(IDS_SCANNING_MEMORY) + u" " + Text16(IDS_DONE) +
                  u"Test.File was found in memory !\r\nterminating processes ...done\r\n"
                  u"removing executables ...done\r\nTest.File was successfully removed.\r\n"
                  u"Test.Mem was found in memory !\r\nterminating process ...done\r\n"
                  u"Test.Mem was successfully removed.\r\n",
              session.output.text);
}

TEST(MemoryScannerWinTest, CleanSystemEndsWithNoMalwareFoundAndStopAbortsWithoutRemove) {
    WinSession session(std::nullopt);
    CScanController& controller = session.Build();
    {
        const int32_t result = session.scanner->Scan(nullptr, nullptr, nullptr);
        ASSERT_EQ(0, result);
        EXPECT_EQ(Text16(IDS_SCANNING_MEMORY) + u" " + Text16(IDS_DONE) + Text16(IDS_NO_MALWARE_IN_MEMORY),
                  session.output.text);
        EXPECT_GE(controller.GetStatistics().modules, 3u);
        EXPECT_GT(controller.GetStatistics().memoryKB, 0.0);
    }
    session.output.text.clear();
    controller.RequestStop();
    EXPECT_EQ(kScanAborted, session.scanner->Scan(nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, controller.GetStatistics().modules) << "stopped after the first module";
    EXPECT_TRUE(session.calls.empty());
    EXPECT_TRUE(session.scanner->Hits().Builtins().empty());
    EXPECT_EQ(Text16(IDS_SCANNING_MEMORY), session.output.text);
}

// The processes of the other width as the walk sees them: for the 32-bit
// program under WOW64 the 64-bit ones; none elsewhere.
int OtherWidthProcesses() {
    if (!IsWow64()) return 0;
    int count = 0;
    CProcessApi* api = CProcessApi::GetInstance();
    ProcessListPtr list = api->OpenProcessList();
    ProcessRecord r;
    for (bool more = api->FirstProcess(*list, r); more; more = api->NextProcess(*list, r)) {
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, r.processId));
        BOOL wow64 = TRUE;
        if (process && IsWow64Process(process.get(), &wow64) && !wow64) ++count;
    }
    return count;
}

// The 64-bit processes the 32-bit program cannot read are passed over
// without a message and counted; the scan of the others ends as usual.
TEST(MemoryScannerWinTest, ProcessesOutOfReachArePassedOverAndCounted) {
    WinSession session(std::nullopt);
    CScanController& controller = session.Build();
    const int expected = OtherWidthProcesses();
    if (IsWow64()) {
        EXPECT_GT(expected, 0) << "a 64-bit prefix runs 64-bit services";
    }
    ASSERT_EQ(0, session.scanner->Scan(nullptr, nullptr, nullptr));
    EXPECT_EQ(Text16(IDS_SCANNING_MEMORY) + u" " + Text16(IDS_DONE) + Text16(IDS_NO_MALWARE_IN_MEMORY),
              session.output.text);
    EXPECT_EQ(static_cast<uint32_t>(expected), controller.GetStatistics().unreadableProcesses);
    EXPECT_GE(controller.GetStatistics().processes, 1u);
}

}  // namespace
