#include "scanner/process_api_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "common/bind_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/windows_version_win.h"

extern const unsigned char g_psapiImage[];
extern const std::size_t g_psapiImage_size;

namespace {

CProcessApi* g_instance = nullptr;

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
constexpr std::size_t kMaxIds = 1024;

wchar_t* W(char16_t* p) { return reinterpret_cast<wchar_t*>(p); }

template <typename Fn>
Fn Bind(void* module, const char* name) {
    return BindFunction<Fn>(static_cast<HMODULE>(module), name);
}

void CopyName(char16_t* out, const wchar_t* in) {
    std::size_t i = 0;
    for (; i < 259 && in[i] != 0; ++i) out[i] = static_cast<char16_t>(in[i]);
    out[i] = 0;
}

bool CopyAnsiName(char16_t* out, const char* in) {
    const auto wide = CProcessApi::AnsiToWide(in);
    if (!wide) return false;
    const std::size_t n = wide->size() < 259 ? wide->size() : 259;
    std::memcpy(out, wide->data(), n * sizeof(char16_t));
    out[n] = 0;
    return true;
}

// Toolhelp records: always handed over at their wide size, also to the narrow
// functions of 9x/ME, which fill the narrow layout at the same address.
union ProcessEntry {
    PROCESSENTRY32W wide;
    tagPROCESSENTRY32 narrow;  // the narrow layout, whatever UNICODE says
};
union ModuleEntry {
    MODULEENTRY32W wide;
    tagMODULEENTRY32 narrow;
};

}  // namespace

struct CProcessApi::Bindings {
    using SHGetSpecialFolderPathWFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
    using GetLongPathNameWFn = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
    using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using GetModuleBaseNameWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    struct ModuleInfo {
        LPVOID base;
        DWORD sizeOfImage;
        LPVOID entryPoint;
    };
    using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE, HMODULE, ModuleInfo*, DWORD);
    using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
    using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, void*);
    using ModuleWalkFn = BOOL(WINAPI*)(HANDLE, void*);

    SHGetSpecialFolderPathWFn shGetSpecialFolderPath = nullptr;
    EnumProcessesFn enumProcesses = nullptr;
    EnumProcessModulesFn enumProcessModules = nullptr;
    GetModuleBaseNameWFn getModuleBaseName = nullptr;
    GetModuleFileNameExWFn getModuleFileNameEx = nullptr;
    GetModuleInformationFn getModuleInformation = nullptr;
    CreateSnapshotFn createSnapshot = nullptr;
    ProcessWalkFn processFirst = nullptr, processNext = nullptr;
    ModuleWalkFn moduleFirst = nullptr, moduleNext = nullptr;
    GetLongPathNameWFn getLongPathName = nullptr;
};

// State of one process walk: a toolhelp snapshot or a PSAPI identifier list.
class ProcessList {
public:
    UniqueHandle snapshot;
    DWORD ids[kMaxIds] = {};
    std::size_t count = 0;
    std::size_t next = 0;
};

// State of one module walk: a toolhelp snapshot or a PSAPI handle list.
class ModuleList {
public:
    UniqueHandle snapshot;
    HMODULE modules[kMaxIds] = {};
    std::size_t count = 0;
    std::size_t next = 0;
    DWORD processId = 0;
};

void ProcessListDeleter::operator()(ProcessList* list) const { delete list; }
void ModuleListDeleter::operator()(ModuleList* list) const { delete list; }

static_assert(std::is_same_v<SnapshotFunction, CProcessApi::Bindings::CreateSnapshotFn>);

void* CreateSnapshot(SnapshotFunction create, uint32_t flags, uint32_t processId) {
    for (int attempt = 1;; ++attempt) {
        HANDLE snapshot = create(flags, processId);
        if (snapshot != INVALID_HANDLE_VALUE && snapshot != nullptr) return snapshot;
        if (GetLastError() != ERROR_BAD_LENGTH || attempt == kSnapshotAttempts) return nullptr;
    }
}

namespace {

// Lists the modules of an open process into `modules`; the count, or nothing.
std::optional<std::size_t> ListModules(CProcessApi::Bindings& fn, HANDLE process, HMODULE* modules) {
    DWORD needed = 0;
    if (!fn.enumProcessModules(process, modules, kMaxIds * sizeof(HMODULE), &needed)) return std::nullopt;
    std::size_t count = needed / sizeof(HMODULE);
    return count < kMaxIds ? count : kMaxIds;
}

}  // namespace

CProcessApi* CProcessApi::GetInstance() {
    if (g_instance == nullptr) g_instance = new (std::nothrow) CProcessApi();
    return g_instance;
}

void CProcessApi::ReleaseInstance() {
    CProcessApi* instance = g_instance;
    g_instance = nullptr;
    delete instance;
}

bool CProcessApi::IsVersionQueryFailed() {
    CProcessApi* api = GetInstance();
    return api == nullptr || api->versionQueryFailed_;
}

bool CProcessApi::CarriesPsapi() { return g_psapiImage_size != 0; }

CProcessApi::CProcessApi() : paths_(std::make_unique<CPathTable>()), fn_(std::make_unique<Bindings>()) {
    std::memset(windowsDir_, 0, sizeof windowsDir_);
    std::memset(systemDir_, 0, sizeof systemDir_);
    std::memset(programFilesDir_, 0, sizeof programFilesDir_);
    std::memset(profileDir_, 0, sizeof profileDir_);
    std::memset(tempDir_, 0, sizeof tempDir_);
    std::memset(cookiesDir_, 0, sizeof cookiesDir_);
    std::memset(internetCacheDir_, 0, sizeof internetCacheDir_);

    const std::optional<WindowsVersion> version = QueryWindowsVersion();
    if (!version) {
        versionQueryFailed_ = true;
        return;
    }
    isWindows9x_ = version->IsWindows9x();
    usePsapi_ = version->IsNt() && version->major == 4;
    snapModules32_ = version->IsNtAtLeast(5, 1);

    shell32_ = LoadSystemLibrary(L"shell32.dll");
    fn_->shGetSpecialFolderPath = Bind<Bindings::SHGetSpecialFolderPathWFn>(shell32_, "SHGetSpecialFolderPathW");
    if (shell32_ != nullptr && fn_->shGetSpecialFolderPath == nullptr) {
        FreeLibrary(static_cast<HMODULE>(shell32_));
        shell32_ = nullptr;
    }

    processApiReady_ = BindProcessInterface();

    if (kernel32_ == nullptr) kernel32_ = LoadSystemLibrary(L"KERNEL32.DLL");
    fn_->getLongPathName = Bind<Bindings::GetLongPathNameWFn>(kernel32_, "GetLongPathNameW");

    readBuffer_.assign(131072, 0);

    HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL");
    backupRead_ = reinterpret_cast<void*>(Bind<FARPROC>(kernel, "BackupRead"));
    backupSeek_ = reinterpret_cast<void*>(Bind<FARPROC>(kernel, "BackupSeek"));
    backupApiReady_ = backupRead_ != nullptr && backupSeek_ != nullptr;
}

CProcessApi::~CProcessApi() {
    paths_->Clear();
    if (shell32_ != nullptr) FreeLibrary(static_cast<HMODULE>(shell32_));
    if (psapi_ != nullptr) FreeLibrary(static_cast<HMODULE>(psapi_));
    if (kernel32_ != nullptr) FreeLibrary(static_cast<HMODULE>(kernel32_));
    if (psapiPath_[0] != 0 && DeleteFileW(W(psapiPath_))) {
        std::wstring folder(W(psapiPath_));
        RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
    }
}

bool CProcessApi::BindProcessInterface() {
    Bindings& fn = *fn_;
    if (!usePsapi_) {
        kernel32_ = LoadSystemLibrary(L"KERNEL32.DLL");
        fn.createSnapshot = Bind<Bindings::CreateSnapshotFn>(kernel32_, "CreateToolhelp32Snapshot");
        const bool narrow = isWindows9x_;
        fn.processFirst = Bind<Bindings::ProcessWalkFn>(kernel32_, narrow ? "Process32First" : "Process32FirstW");
        fn.processNext = Bind<Bindings::ProcessWalkFn>(kernel32_, narrow ? "Process32Next" : "Process32NextW");
        fn.moduleFirst = Bind<Bindings::ModuleWalkFn>(kernel32_, narrow ? "Module32First" : "Module32FirstW");
        fn.moduleNext = Bind<Bindings::ModuleWalkFn>(kernel32_, narrow ? "Module32Next" : "Module32NextW");
        if (fn.createSnapshot && fn.processFirst && fn.processNext && fn.moduleFirst && fn.moduleNext) return true;
        if (kernel32_ != nullptr) FreeLibrary(static_cast<HMODULE>(kernel32_));
        kernel32_ = nullptr;
        fn.createSnapshot = nullptr;
        fn.processFirst = fn.processNext = nullptr;
        fn.moduleFirst = fn.moduleNext = nullptr;
        return false;
    }

    // NT 4.0: the carried copy, written to the temporary directory; a build
    // that carries none uses the system's own library.
    if (CarriesPsapi()) {
        if (!WritePsapiCopy()) return false;
        psapi_ = LoadLibraryW(W(psapiPath_));
    } else {
        psapi_ = LoadSystemLibrary(L"PSAPI.DLL");
    }
    if (psapi_ == nullptr) return false;
    fn.enumProcesses = Bind<Bindings::EnumProcessesFn>(psapi_, "EnumProcesses");
    fn.enumProcessModules = Bind<Bindings::EnumProcessModulesFn>(psapi_, "EnumProcessModules");
    fn.getModuleBaseName = Bind<Bindings::GetModuleBaseNameWFn>(psapi_, "GetModuleBaseNameW");
    fn.getModuleFileNameEx = Bind<Bindings::GetModuleFileNameExWFn>(psapi_, "GetModuleFileNameExW");
    fn.getModuleInformation = Bind<Bindings::GetModuleInformationFn>(psapi_, "GetModuleInformation");
    if (fn.enumProcesses && fn.enumProcessModules && fn.getModuleBaseName && fn.getModuleFileNameEx &&
        fn.getModuleInformation) {
        return true;
    }
    FreeLibrary(static_cast<HMODULE>(psapi_));
    psapi_ = nullptr;
    fn.enumProcesses = nullptr;
    fn.enumProcessModules = nullptr;
    fn.getModuleBaseName = nullptr;
    fn.getModuleFileNameEx = nullptr;
    fn.getModuleInformation = nullptr;
    return false;
}

// The copy goes into a folder of its own, made under a new name in the
// temporary directory, so that no one else can have planted or opened a file
// there; the library is then loaded by that full path.
bool CProcessApi::WritePsapiCopy() {
    static constexpr wchar_t kName[] = L"\\PSAPI.DLL";
    wchar_t temp[260];
    const DWORD n = GetTempPathW(260, temp);
    std::memset(psapiPath_, 0, sizeof psapiPath_);
    if (n == 0 || n + 12 + sizeof kName / sizeof kName[0] > 260) return false;
    for (unsigned attempt = 0; attempt < 32; ++attempt) {
        const std::u16string tag = FreshNameTag();
        const std::wstring folder = std::wstring(temp, n) + L"tsm" + std::wstring(tag.begin(), tag.end());
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        const std::wstring path = folder + kName;
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(g_psapiImage_size);
        if (!file || !WriteFile(file.get(), g_psapiImage, size, &written, nullptr) || written != size) {
            file.reset();
            DeleteFileW(path.c_str());
            RemoveDirectoryW(folder.c_str());
            return false;
        }
        std::memcpy(psapiPath_, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        return true;
    }
    return false;
}

ProcessListPtr CProcessApi::OpenProcessList() {
    if (!processApiReady_) return nullptr;
    ProcessListPtr list(new ProcessList);
    if (!usePsapi_) {
        list->snapshot.reset(CreateSnapshot(fn_->createSnapshot, TH32CS_SNAPPROCESS, 0));
        if (!list->snapshot) return nullptr;
        return list;
    }
    DWORD bytes = 0;
    if (!fn_->enumProcesses(list->ids, sizeof list->ids, &bytes)) return nullptr;
    list->count = bytes / sizeof(DWORD);
    list->next = 0;
    return list;
}

namespace {

// Fills `record` from a toolhelp process entry.
bool CopyProcessEntry(const ProcessEntry& entry, bool narrow, ProcessRecord& record) {
    if (narrow) {
        record.processId = entry.narrow.th32ProcessID;
        return CopyAnsiName(record.imageName, entry.narrow.szExeFile);
    }
    record.processId = entry.wide.th32ProcessID;
    CopyName(record.imageName, entry.wide.szExeFile);
    return true;
}

// PSAPI: base name of the first module of process `id`; false when the
// process cannot be opened or its modules listed (`skippable` set), or when
// the name cannot be read.
bool ReadPsapiProcess(CProcessApi::Bindings& fn, DWORD id, ProcessRecord& record, bool& skippable) {
    skippable = true;
    UniqueHandle process(OpenProcess(kProcessAccess, FALSE, id));
    if (!process) return false;
    HMODULE modules[kMaxIds];
    const auto count = ListModules(fn, process.get(), modules);
    if (!count || *count == 0) return false;
    skippable = false;
    wchar_t name[260] = {};
    if (fn.getModuleBaseName(process.get(), modules[0], name, 260) == 0) return false;
    record.processId = id;
    CopyName(record.imageName, name);
    return true;
}

}  // namespace

bool CProcessApi::FirstProcess(ProcessList& list, ProcessRecord& record) {
    std::memset(&record, 0, sizeof record);
    if (!usePsapi_) {
        ProcessEntry entry{};
        entry.wide.dwSize = sizeof(PROCESSENTRY32W);
        if (!fn_->processFirst(list.snapshot.get(), &entry)) return false;
        return CopyProcessEntry(entry, isWindows9x_, record);
    }
    if (list.count == 0) return false;
    record.processId = list.ids[0];
    list.next = 1;
    bool skippable = false;
    return ReadPsapiProcess(*fn_, list.ids[0], record, skippable);
}

bool CProcessApi::NextProcess(ProcessList& list, ProcessRecord& record) {
    if (!usePsapi_) {
        ProcessEntry entry{};
        entry.wide.dwSize = sizeof(PROCESSENTRY32W);
        if (!fn_->processNext(list.snapshot.get(), &entry)) return false;
        return CopyProcessEntry(entry, isWindows9x_, record);
    }
    while (list.next < list.count) {
        const DWORD id = list.ids[list.next++];
        bool skippable = false;
        if (ReadPsapiProcess(*fn_, id, record, skippable)) return true;
        if (!skippable) return false;
    }
    return false;
}

ModuleListPtr CProcessApi::OpenModuleList(uint32_t processId, uint32_t* error) {
    if (!processApiReady_) return nullptr;
    const auto failed = [error] {
        if (error != nullptr) *error = GetLastError();
        return nullptr;
    };
    ModuleListPtr list(new ModuleList);
    list->processId = processId;
    if (!usePsapi_) {
        // Without TH32CS_SNAPMODULE32 the 64-bit program would see only the
        // 64-bit modules (the WOW64 layer) of a 32-bit process.
        const DWORD flags = TH32CS_SNAPMODULE | (snapModules32_ ? TH32CS_SNAPMODULE32 : 0);
        list->snapshot.reset(CreateSnapshot(fn_->createSnapshot, flags, processId));
        if (!list->snapshot) return failed();
        return list;
    }
    UniqueHandle process(OpenProcess(kProcessAccess, FALSE, processId));
    if (!process) return failed();
    const auto count = ListModules(*fn_, process.get(), list->modules);
    if (!count) return failed();
    list->count = *count;
    return list;
}

namespace {

bool CopyModuleEntry(const ModuleEntry& entry, bool narrow, ModuleRecord& record) {
    if (narrow) {
        record.moduleHandle = reinterpret_cast<uintptr_t>(entry.narrow.hModule);
        record.processId = entry.narrow.th32ProcessID;
        record.base = reinterpret_cast<uintptr_t>(entry.narrow.modBaseAddr);
        record.size = entry.narrow.modBaseSize;
        return CopyAnsiName(record.path, entry.narrow.szExePath);
    }
    record.moduleHandle = reinterpret_cast<uintptr_t>(entry.wide.hModule);
    record.processId = entry.wide.th32ProcessID;
    record.base = reinterpret_cast<uintptr_t>(entry.wide.modBaseAddr);
    record.size = entry.wide.modBaseSize;
    CopyName(record.path, entry.wide.szExePath);
    return true;
}

// PSAPI: the module at `index` of a fresh module list of the process.
// `named` tells whether the name query ran.
bool ReadPsapiModule(CProcessApi::Bindings& fn, DWORD processId, std::size_t index, ModuleRecord& record,
                     bool& named) {
    named = false;
    UniqueHandle process(OpenProcess(kProcessAccess, FALSE, processId));
    if (!process) return false;
    HMODULE modules[kMaxIds];
    const auto count = ListModules(fn, process.get(), modules);
    if (!count || index >= *count) return false;
    CProcessApi::Bindings::ModuleInfo info{};
    if (!fn.getModuleInformation(process.get(), modules[index], &info, sizeof info)) return false;
    wchar_t path[260] = {};
    named = true;
    if (fn.getModuleFileNameEx(process.get(), modules[index], path, 260) == 0) return false;
    record.moduleHandle = reinterpret_cast<uintptr_t>(modules[index]);
    record.base = reinterpret_cast<uintptr_t>(info.base);
    record.size = info.sizeOfImage;
    record.processId = processId;
    CopyName(record.path, path);
    return true;
}

}  // namespace

bool CProcessApi::FirstModule(ModuleList& list, ModuleRecord& record) {
    std::memset(&record, 0, sizeof record);
    if (!usePsapi_) {
        ModuleEntry entry{};
        entry.wide.dwSize = sizeof(MODULEENTRY32W);
        if (!fn_->moduleFirst(list.snapshot.get(), &entry)) return false;
        return CopyModuleEntry(entry, isWindows9x_, record);
    }
    list.next = 1;
    bool named = false;
    return ReadPsapiModule(*fn_, list.processId, 0, record, named);
}

bool CProcessApi::NextModule(ModuleList& list, ModuleRecord& record) {
    if (!usePsapi_) {
        ModuleEntry entry{};
        entry.wide.dwSize = sizeof(MODULEENTRY32W);
        if (!fn_->moduleNext(list.snapshot.get(), &entry)) return false;
        return CopyModuleEntry(entry, isWindows9x_, record);
    }
    if (list.next >= list.count) return false;
    bool named = false;
    const bool ok = ReadPsapiModule(*fn_, list.processId, list.next, record, named);
    if (named) ++list.next;
    return ok;
}

std::optional<std::u16string> CProcessApi::AnsiToWide(const char* text) {
    if (text == nullptr) return std::nullopt;
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n) != n) return std::nullopt;
    wide.pop_back();  // the NUL
    return std::u16string(wide.begin(), wide.end());
}

bool CProcessApi::EnablePrivilege(const char16_t* name) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &raw)) return false;
    UniqueHandle token(raw);
    TOKEN_PRIVILEGES privileges{};
    if (!LookupPrivilegeValueW(nullptr, reinterpret_cast<const wchar_t*>(name), &privileges.Privileges[0].Luid)) {
        return true;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

const char16_t* CProcessApi::GetWindowsDir() {
    std::memset(windowsDir_, 0, sizeof windowsDir_);
    return GetWindowsDirectoryW(W(windowsDir_), 260) != 0 ? windowsDir_ : nullptr;
}

const char16_t* CProcessApi::GetSystemDir() {
    std::memset(systemDir_, 0, sizeof systemDir_);
    return GetSystemDirectoryW(W(systemDir_), 260) != 0 ? systemDir_ : nullptr;
}

const char16_t* CProcessApi::SpecialFolder(int csidl, char16_t* buffer) {
    std::memset(buffer, 0, 260 * sizeof(char16_t));
    if (fn_->shGetSpecialFolderPath == nullptr) return nullptr;
    return fn_->shGetSpecialFolderPath(nullptr, W(buffer), csidl, FALSE) < 0 ? nullptr : buffer;
}

const char16_t* CProcessApi::GetProgramFilesDir() { return SpecialFolder(38, programFilesDir_); }
const char16_t* CProcessApi::GetProfileDir() { return SpecialFolder(40, profileDir_); }
const char16_t* CProcessApi::GetInternetCacheDir() { return SpecialFolder(32, internetCacheDir_); }
const char16_t* CProcessApi::GetCookiesDir() { return SpecialFolder(33, cookiesDir_); }

const char16_t* CProcessApi::GetTempDir() {
    std::memset(tempDir_, 0, sizeof tempDir_);
    wchar_t given[260] = {};
    const DWORD n = GetTempPathW(260, given);
    if (n == 0 || n >= 260) return nullptr;
    if (usePsapi_) {
        std::memcpy(tempDir_, given, sizeof given);
    } else {
        if (fn_->getLongPathName == nullptr) return nullptr;
        const DWORD m = fn_->getLongPathName(given, W(tempDir_), 260);
        if (m == 0 || m >= 260) {
            std::memset(tempDir_, 0, sizeof tempDir_);
            return nullptr;
        }
    }
    std::size_t len = 0;
    while (len < 259 && tempDir_[len] != 0) ++len;
    if (len != 0 && tempDir_[len - 1] == u'\\') tempDir_[len - 1] = 0;
    return tempDir_;
}
