// The system object against the running (Wine) system, in every version mode.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/text16.h"
#include "support/win_support.h"
#include "common/wow64_win.h"
#include "scanner/process_api_win.h"

namespace {

std::u16string U(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::vector<ProcessRecord> WalkProcesses(CProcessApi& api, ProcessListPtr list) {
    std::vector<ProcessRecord> found;
    ProcessRecord r;
    for (bool more = api.FirstProcess(*list, r); more; more = api.NextProcess(*list, r)) found.push_back(r);
    return found;
}

const ProcessRecord* FindId(const std::vector<ProcessRecord>& records, DWORD id) {
    for (const ProcessRecord& r : records) {
        if (r.processId == id) return &r;
    }
    return nullptr;
}

TEST(ProcessApiTest, FlagsAndBindingsFollowTheWindowsVersion) {
    CProcessApi* api = CProcessApi::GetInstance();
    ASSERT_NE(nullptr, api);
    EXPECT_FALSE(CProcessApi::IsVersionQueryFailed());
    EXPECT_TRUE(api->processApiReady());
    EXPECT_TRUE(api->backupApiReady());
    EXPECT_EQ(131072u, api->ReadBuffer().size());
    const std::string version = RequestedVersion();
    EXPECT_EQ(version == "win98", api->isWindows9x());
    EXPECT_EQ(version == "nt40", api->usePsapi());

    // Only NT 4.0 writes the carried PSAPI.DLL, into a new folder of its own
    // in the temporary directory, and loads it by that path.
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::u16string copy = api->PsapiPath();
    if (version == "nt40" && CProcessApi::CarriesPsapi()) {
        const std::u16string folder = copy.substr(0, copy.rfind(u'\\'));
        EXPECT_EQ(u"\\PSAPI.DLL", copy.substr(folder.size()));
        EXPECT_EQ(U(std::wstring(temp) + L"tsm"), folder.substr(0, wcslen(temp) + 3));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
                  GetFileAttributesW(reinterpret_cast<const wchar_t*>(folder.c_str())) & FILE_ATTRIBUTE_DIRECTORY);
        HMODULE loaded = GetModuleHandleW(reinterpret_cast<const wchar_t*>(copy.c_str()));
        EXPECT_NE(nullptr, loaded) << "the written copy is the library in use";
    } else {
        EXPECT_EQ(u"", copy);
    }
    const std::wstring plain = std::wstring(temp) + L"PSAPI.DLL";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(plain.c_str()));
}

TEST(ProcessApiTest, WalkFindsAChildWithItsExecutableAsFirstModule) {
    CProcessApi* api = CProcessApi::GetInstance();
    ChildProcess child;
    ASSERT_TRUE(child.started());

    const std::vector<ProcessRecord> processes = WalkProcesses(*api, api->OpenProcessList());
    EXPECT_NE(nullptr, FindId(processes, GetCurrentProcessId()));
    const ProcessRecord* record = FindId(processes, child.id());
    ASSERT_NE(nullptr, record);
    EXPECT_TRUE(EqualsIgnoreCase(u"tesmora_test_child.exe", record->imageName)) << Utf16ToUtf8(record->imageName);

    ModuleListPtr modules = api->OpenModuleList(child.id());
    ASSERT_NE(nullptr, modules);
    ModuleRecord first;
    ASSERT_TRUE(api->FirstModule(*modules, first));
    EXPECT_EQ(child.id(), first.processId);
    const std::u16string path(first.path);
    EXPECT_TRUE(EqualsIgnoreCase(U(ChildProcess::ExePath()), path)) << Utf16ToUtf8(path);
    EXPECT_NE(0u, first.base);
    EXPECT_NE(0u, first.size);

    // The other modules follow: at least the system library every process has.
    bool sawKernel = false;
    ModuleRecord next;
    int count = 1;
    while (api->NextModule(*modules, next) && count < 1024) {
        ++count;
        if (FindIgnoreCase(next.path, u"kernel32.dll") != std::u16string_view::npos) sawKernel = true;
        EXPECT_EQ(child.id(), next.processId);
    }
    EXPECT_TRUE(sawKernel);
    CProcessApi::CloseModuleList(modules);
    EXPECT_EQ(nullptr, modules);
}

TEST(ProcessApiTest, OwnModuleKeepsItsFullPointerWidth) {
    CProcessApi* api = CProcessApi::GetInstance();
    ModuleListPtr modules = api->OpenModuleList(GetCurrentProcessId());
    ASSERT_NE(nullptr, modules);
    ModuleRecord first;
    ASSERT_TRUE(api->FirstModule(*modules, first));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)), first.base);
    EXPECT_EQ(first.base, first.moduleHandle);
}

TEST(ProcessApiTest, PsapiWalkPassesOverAProcessThatCannotBeOpened) {
    CProcessApi* api = CProcessApi::GetInstance();
    if (!api->usePsapi()) GTEST_SKIP() << "toolhelp walks a snapshot; only PSAPI opens processes while walking";
    ChildProcess gone, kept;
    ASSERT_TRUE(gone.started() && kept.started());
    ProcessListPtr list = api->OpenProcessList();
    ASSERT_NE(nullptr, list);
    const DWORD goneId = gone.id();
    gone.Kill();
    const std::vector<ProcessRecord> processes = WalkProcesses(*api, std::move(list));
    EXPECT_EQ(nullptr, FindId(processes, goneId));
    EXPECT_NE(nullptr, FindId(processes, kept.id()));
}

TEST(ProcessApiTest, EnablePrivilege) {
    CProcessApi* api = CProcessApi::GetInstance();
    EXPECT_TRUE(api->EnablePrivilege(u"SeDebugPrivilege"));
    // A name the system does not know leaves the token as it was.
    EXPECT_TRUE(api->EnablePrivilege(u"SeNoSuchPrivilege"));
}

TEST(ProcessApiTest, AnsiToWide) {
    EXPECT_EQ(u"C:\\WINDOWS\\a b.exe", CProcessApi::AnsiToWide("C:\\WINDOWS\\a b.exe").value());
    EXPECT_EQ(u"", CProcessApi::AnsiToWide("").value());
    EXPECT_FALSE(CProcessApi::AnsiToWide(nullptr).has_value());
}

TEST(ProcessApiTest, ReleaseInstanceStartsAfresh) {
    CProcessApi* api = CProcessApi::GetInstance();
    EXPECT_EQ(api, CProcessApi::GetInstance());
    EXPECT_FALSE(api->Paths().CheckAndRecord(u"C:\\x.exe"));
    EXPECT_TRUE(api->Paths().CheckAndRecord(u"c:\\X.EXE"));
    CProcessApi::ReleaseInstance();
    api = CProcessApi::GetInstance();
    ASSERT_NE(nullptr, api);
    EXPECT_FALSE(api->Paths().CheckAndRecord(u"C:\\x.exe"));
    EXPECT_TRUE(api->processApiReady());
}

// A snapshot function that fails `failures` times with `error`, then makes
// the real process snapshot.
struct FlakySnapshot {
    static HANDLE WINAPI Create(DWORD flags, DWORD processId) {
        ++calls;
        if (calls <= failures) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        return CreateToolhelp32Snapshot(flags, processId);
    }
    static inline int calls = 0, failures = 0;
    static inline DWORD error = 0;
};

TEST(ProcessApiTest, SnapshotIsMadeAgainWhileItFailsWithBadLength) {
    static_assert(kSnapshotAttempts == 5);
    const struct {
        int failures;
        DWORD error;
        int calls;
        bool made;
    } cases[] = {
        {0, ERROR_BAD_LENGTH, 1, true},
        {4, ERROR_BAD_LENGTH, 5, true},
        {5, ERROR_BAD_LENGTH, 5, false},
        {1, ERROR_ACCESS_DENIED, 1, false},  // any other failure is final
    };
    for (const auto& c : cases) {
        FlakySnapshot::calls = 0;
        FlakySnapshot::failures = c.failures;
        FlakySnapshot::error = c.error;
        UniqueHandle snapshot(CreateSnapshot(&FlakySnapshot::Create, TH32CS_SNAPPROCESS, 0));
        const DWORD error = GetLastError();
        EXPECT_EQ(c.calls, FlakySnapshot::calls) << c.failures << " " << c.error;
        EXPECT_EQ(c.made, static_cast<bool>(snapshot)) << c.failures << " " << c.error;
        if (!c.made) {
            EXPECT_EQ(c.error, error);
        }
    }
}

bool RunsUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The 64-bit program lists the 32-bit modules of a WOW64 process (the i686
// test child, named by TESMORA_TEST_CHILD32_EXE, a path of the build
// machine): its executable and its 32-bit kernel32.dll.
TEST(ProcessApiTest, SixtyFourBitProgramListsTheModulesOfA32BitProcess) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "the 64-bit program's walk";
    const char* exe = std::getenv("TESMORA_TEST_CHILD32_EXE");
    if (exe == nullptr || *exe == 0) GTEST_SKIP() << "TESMORA_TEST_CHILD32_EXE names no i686 test child";
    const std::wstring path = HostPath(exe);
    ChildProcess child(path, 30000);
    ASSERT_TRUE(child.started()) << exe;
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(child.handle(), &wow64));
    ASSERT_TRUE(wow64) << "the child is no 32-bit program";

    CProcessApi* api = CProcessApi::GetInstance();
    uint32_t error = 0;
    ModuleListPtr modules = api->OpenModuleList(child.id(), &error);
    if (!modules && RunsUnderWine() && error == ERROR_NOACCESS) {
        GTEST_SKIP() << "Wine's toolhelp cannot read the module list of a WOW64 process from a 64-bit one";
    }
    ASSERT_NE(nullptr, modules) << "error " << error;
    bool sawExe = false, saw32BitKernel = false;
    ModuleRecord r;
    for (bool more = api->FirstModule(*modules, r); more; more = api->NextModule(*modules, r)) {
        sawExe |= EqualsIgnoreCase(U(path), r.path);
        const uint64_t base = r.base;
        saw32BitKernel |= FindIgnoreCase(r.path, u"\\kernel32.dll") != std::u16string_view::npos && base >> 32 == 0;
    }
    EXPECT_TRUE(sawExe);
    EXPECT_TRUE(saw32BitKernel);
}

// The 32-bit program cannot walk a 64-bit process: the walk fails with the
// error the memory scan passes such a process over by.
TEST(ProcessApiTest, ModuleWalkOfA64BitProcessFailsOutOfReachUnderWow64) {
    if (!IsWow64()) GTEST_SKIP() << "only the 32-bit program under WOW64 meets 64-bit processes";
    CProcessApi* api = CProcessApi::GetInstance();
    int wide = 0;
    for (const ProcessRecord& p : WalkProcesses(*api, api->OpenProcessList())) {
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, p.processId));
        BOOL wow64 = TRUE;
        if (!process || !IsWow64Process(process.get(), &wow64) || wow64) continue;
        ++wide;
        uint32_t error = 0;
        EXPECT_EQ(nullptr, api->OpenModuleList(p.processId, &error)) << Utf16ToUtf8(p.imageName);
        // ERROR_PARTIAL_COPY on Windows; Wine says ERROR_NOACCESS.
        EXPECT_TRUE(error == ERROR_PARTIAL_COPY || error == ERROR_NOACCESS) << error;
    }
    EXPECT_GT(wide, 0) << "a 64-bit prefix runs 64-bit services";
}

}  // namespace
