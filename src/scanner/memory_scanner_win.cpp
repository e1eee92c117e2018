#include "scanner/memory_scanner_win.h"

#include <windows.h>

#include "scan/scan_controller.h"
#include "scanner/file_scanner_win.h"
#include "common/handles_win.h"
#include "common/windows_version_win.h"
#include "common/wow64_win.h"
#include "scanner/process_api_win.h"
#include "removal/processes_win.h"

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A failure that says the process's memory cannot be read from here:
// ERROR_PARTIAL_COPY on Windows (a 64-bit process seen from the 32-bit
// program); Wine reports the same walk's failure as ERROR_NOACCESS.
bool IsOutOfReach(uint32_t error) { return error == ERROR_PARTIAL_COPY || error == ERROR_NOACCESS; }

}  // namespace

// The running system under the memory scan: the walks of the system object,
// the process being read, the module files.
class CMemoryScanner::CSystem : public CMemorySystem {
public:
    explicit CSystem(CProcessApi* api) : api_(api) {}

    std::optional<uint32_t> PlatformId() override {
        const std::optional<WindowsVersion> version = QueryWindowsVersion();
        if (!version) return std::nullopt;
        return version->platform;
    }
    bool EnableDebugPrivilege() override { return api_ != nullptr && api_->EnablePrivilege(u"SeDebugPrivilege"); }
    bool ProcessApiReady() override { return api_ != nullptr && api_->processApiReady(); }
    bool IsWindows9x() override { return api_ != nullptr && api_->isWindows9x(); }

    bool OpenProcessList() override {
        processes_ = api_->OpenProcessList();
        return static_cast<bool>(processes_);
    }
    bool FirstProcess(MemoryProcessInfo& record) override {
        ProcessRecord r{};
        const bool ok = api_->FirstProcess(*processes_, r);
        Copy(r, record);
        return ok;
    }
    bool NextProcess(MemoryProcessInfo& record) override {
        ProcessRecord r{};
        const bool ok = api_->NextProcess(*processes_, r);
        Copy(r, record);
        return ok;
    }
    void CloseProcessList() override { CProcessApi::CloseProcessList(processes_); }

    bool OpenModuleList(uint32_t processId) override {
        uint32_t error = 0;
        modules_ = api_->OpenModuleList(processId, &error);
        if (!modules_) outOfReach_ = IsOutOfReach(error);
        return static_cast<bool>(modules_);
    }
    bool FirstModule(MemoryModuleInfo& record) override {
        ModuleRecord r{};
        const bool ok = api_->FirstModule(*modules_, r);
        Copy(r, record);
        return ok;
    }
    bool NextModule(MemoryModuleInfo& record) override {
        ModuleRecord r{};
        const bool ok = api_->NextModule(*modules_, r);
        Copy(r, record);
        return ok;
    }
    void CloseModuleList() override { CProcessApi::CloseModuleList(modules_); }

    bool OpenProcess(uint32_t processId) override {
        process_.reset(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        // What is found in this memory belongs to this process, not to
        // whichever gets the identifier after it.
        if (process_) RecordSeenProcess(processId, process_.get());
        return static_cast<bool>(process_);
    }
    std::optional<std::size_t> ReadMemory(uint64_t address, uint8_t* buffer, std::size_t count) override {
        if (address > UINTPTR_MAX || count > UINTPTR_MAX - address) {
            outOfReach_ = true;  // beyond this program's address width
            return std::nullopt;
        }
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_.get(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), buffer,
                               count, &read)) {
            const DWORD error = GetLastError();
            // The readable start of a range that runs into an unreadable page.
            if (error == ERROR_PARTIAL_COPY && read > 0 && read < count) return static_cast<std::size_t>(read);
            outOfReach_ = IsOutOfReach(error);
            return std::nullopt;
        }
        return static_cast<std::size_t>(read);
    }
    bool OutOfReach() override { return outOfReach_; }
    void CloseProcess() override { process_.reset(); }

    std::size_t ReadFileHead(const std::u16string& path, uint8_t* buffer, std::size_t count) override {
        CFsRedirectionOff redirection;
        UniqueHandle file(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        redirection.Revert();
        if (!file) return 0;
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, static_cast<DWORD>(count), &read, nullptr)) return 0;
        return read;
    }
    uint32_t TickCount() override { return GetTickCount(); }
    void ScanExecutable(CScanController& controller, const std::u16string& path,
                        std::vector<CMalwareRemover*>& found) override {
        ScanExecutableFile(controller, path, found);
    }

private:
    static void Copy(const ProcessRecord& from, MemoryProcessInfo& to) {
        to.processId = from.processId;
        to.imageName.assign(from.imageName, std::char_traits<char16_t>::length(from.imageName));
    }
    static void Copy(const ModuleRecord& from, MemoryModuleInfo& to) {
        to.path.assign(from.path, std::char_traits<char16_t>::length(from.path));
        to.processId = from.processId;
        to.base = from.base;
        to.size = from.size;
    }

    CProcessApi* api_;
    ProcessListPtr processes_;
    ModuleListPtr modules_;
    UniqueHandle process_;
    bool outOfReach_ = false;
};

CMemoryScanner::CMemoryScanner()
    : system_(CProcessApi::GetInstance()), walker_(std::make_unique<CSystem>(system_)) {}

CMemoryScanner::~CMemoryScanner() = default;

int32_t CMemoryScanner::Scan(char16_t*, void* windowHandle, const DriveListNode*) {
    window_ = windowHandle;
    if (owner_ == nullptr) return kScanInvalidArgument;
    return scan_.Run(*owner_, *walker_);
}
