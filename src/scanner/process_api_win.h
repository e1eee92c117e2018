// The process-wide system object: Windows version probe, the process and
// module walks over toolhelp or PSAPI, privileges, the folder queries behind
// the script's path variables, the stream functions, the executable-header
// work area and the path table of the file removal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "removal/path_table.h"
#include "scanner/pe_headers.h"
#include "script/folders.h"

struct ProcessRecord {
    uint32_t processId;
    char16_t imageName[260];
};

struct ModuleRecord {
    uintptr_t moduleHandle;  // pointer-wide: a 64-bit build keeps the whole value
    char16_t path[260];
    uint32_t processId;
    uintptr_t base;
    uintptr_t size;
};

class ProcessList;
class ModuleList;
struct ProcessListDeleter {
    void operator()(ProcessList* list) const;
};
struct ModuleListDeleter {
    void operator()(ModuleList* list) const;
};
using ProcessListPtr = std::unique_ptr<ProcessList, ProcessListDeleter>;
using ModuleListPtr = std::unique_ptr<ModuleList, ModuleListDeleter>;

// CreateToolhelp32Snapshot's signature (HANDLE and DWORD spelt out).
using SnapshotFunction = void*(__stdcall*)(unsigned long flags, unsigned long processId);
constexpr int kSnapshotAttempts = 5;
// A toolhelp snapshot made by `create`, made again while it fails with
// ERROR_BAD_LENGTH (the module list changed while it was read), at most
// kSnapshotAttempts times in all; null when it failed, the last error set.
void* CreateSnapshot(SnapshotFunction create, uint32_t flags, uint32_t processId);

class CProcessApi : public CFolderLookup {
public:
    static CProcessApi* GetInstance();
    static void ReleaseInstance();
    static bool IsVersionQueryFailed();

    ~CProcessApi() override;
    CProcessApi(const CProcessApi&) = delete;
    CProcessApi& operator=(const CProcessApi&) = delete;

    bool isWindows9x() const { return isWindows9x_; }
    bool usePsapi() const { return usePsapi_; }
    bool processApiReady() const { return processApiReady_; }
    bool versionQueryFailed() const { return versionQueryFailed_; }
    bool backupApiReady() const { return backupApiReady_; }
    // Full path of the written PSAPI.DLL copy (NT 4.0), empty otherwise.
    const char16_t* PsapiPath() const { return psapiPath_; }
    // Whether the program carries a PSAPI.DLL image of its own.
    static bool CarriesPsapi();

    // Process and module walks. A list is closed by its owner going away or by
    // the matching Close call.
    ProcessListPtr OpenProcessList();
    bool FirstProcess(ProcessList& list, ProcessRecord& record);
    bool NextProcess(ProcessList& list, ProcessRecord& record);
    static void CloseProcessList(ProcessListPtr& list) { list.reset(); }
    // The modules of process `processId`; from NT 5.1 on, the 64-bit program
    // lists the 32-bit modules of a WOW64 process too. On failure `error`,
    // when given, receives the system's error code.
    ModuleListPtr OpenModuleList(uint32_t processId, uint32_t* error = nullptr);
    bool FirstModule(ModuleList& list, ModuleRecord& record);
    bool NextModule(ModuleList& list, ModuleRecord& record);
    static void CloseModuleList(ModuleListPtr& list) { list.reset(); }

    // UTF-16 copy of a string in the ANSI code page; nothing on failure.
    static std::optional<std::u16string> AnsiToWide(const char* text);

    bool EnablePrivilege(const char16_t* name);

    // Folder queries; each fills its own buffer and returns it, or null.
    const char16_t* GetWindowsDir() override;
    const char16_t* GetSystemDir() override;
    const char16_t* GetProgramFilesDir() override;
    const char16_t* GetProfileDir() override;
    const char16_t* GetTempDir() override;
    const char16_t* GetCookiesDir() override;
    const char16_t* GetInternetCacheDir() override;

    // Stream functions bound by name (null when not found): BackupRead and
    // BackupSeek with their Win32 signatures.
    void* BackupReadFunction() const { return backupRead_; }
    void* BackupSeekFunction() const { return backupSeek_; }

    ExecutableHeaders& Headers() { return headers_; }
    uint32_t RvaToFileOffset(uint32_t rva) const {
        return ::RvaToFileOffset(headers_.sectionCount, headers_.sectionTable, rva);
    }
    CPathTable& Paths() { return *paths_; }
    // The 128 KB read buffer of the executable-file scan; empty when the
    // version query failed.
    std::vector<uint8_t>& ReadBuffer() { return readBuffer_; }

    struct Bindings;  // the functions bound by name

private:

    CProcessApi();
    bool BindProcessInterface();
    bool WritePsapiCopy();
    const char16_t* SpecialFolder(int csidl, char16_t* buffer);

    ExecutableHeaders headers_;
    char16_t windowsDir_[260], systemDir_[260], programFilesDir_[260], profileDir_[260],
        tempDir_[260], cookiesDir_[260], internetCacheDir_[260];
    std::unique_ptr<CPathTable> paths_;
    void* shell32_ = nullptr;
    void* psapi_ = nullptr;
    void* kernel32_ = nullptr;  // loaded for toolhelp and GetLongPathNameW
    bool usePsapi_ = false;
    bool isWindows9x_ = false;
    bool snapModules32_ = false;  // NT 5.1 and later: TH32CS_SNAPMODULE32 is known
    bool processApiReady_ = false;
    bool versionQueryFailed_ = false;
    bool backupApiReady_ = false;
    char16_t psapiPath_[260] = {};
    std::unique_ptr<Bindings> fn_;
    std::vector<uint8_t> readBuffer_;
    void* backupRead_ = nullptr;
    void* backupSeek_ = nullptr;
};
