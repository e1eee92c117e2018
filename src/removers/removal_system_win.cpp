// The running system's removal primitives, for the Windows build.
#include <windows.h>

#include "common/string_table.h"
#include "removers/removal_system.h"
#include "removal/file_removal_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"
#include "removal/hosts_ini_win.h"
#include "scanner/process_api_win.h"
#include "removal/processes_win.h"
#include "removal/registry_win.h"

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

class CWin32RepairFile : public CRepairFile {
public:
    explicit CWin32RepairFile(HANDLE handle) : handle_(handle) {}
    uint64_t Size() override {
        uint64_t size = 0;
        return GetFileSize64(handle_.get(), size) ? size : 0;
    }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (!Seek(offset)) return -1;
        DWORD got = 0;
        if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
        return got;
    }
    int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) override {
        if (!Seek(offset)) return -1;
        DWORD put = 0;
        if (!WriteFile(handle_.get(), buffer, static_cast<DWORD>(count), &put, nullptr)) return -1;
        return put;
    }

private:
    bool Seek(uint64_t offset) { return SeekFile64(handle_.get(), offset); }
    UniqueHandle handle_;
};

class CWin32RemovalSystem : public CRemovalSystem {
public:
    int TerminateProcessById(CScanController& c, uint32_t processId) override {
        return static_cast<int>(::TerminateProcessById(c, processId));
    }
    void TerminateProcesses(CScanController& c, const std::vector<InfectedProcessRecord>& list) override {
        (void)::TerminateProcesses(c, &list);
    }
    void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) override {
        ::FindProcessesByName(name, list);
    }
    int RemoveFile(CScanController& c, const char16_t* path) override { return static_cast<int>(::RemoveFile(c, path)); }
    int RenameFile(CScanController& c, const char16_t* from, const char16_t* to) override {
        return static_cast<int>(::RenameFile(c, from, to));
    }
    int CleanIniFile(CScanController& c, const char16_t* text, int which) override {
        return static_cast<int>(::CleanIniFile(c, text, which));
    }
    int RestoreHostsFile(CScanController& c) override { return static_cast<int>(::RestoreHostsFile(c)); }
    int RemoveFromHostsFile(CScanController& c, const char16_t* host) override {
        return static_cast<int>(::RemoveFromHostsFile(c, host));
    }
    void ShowPopup(const char16_t* text) override {
        MessageBoxW(nullptr, W(text), W(LoadText(IDS_WINDOW_TITLE)), MB_OK);
    }
    void RemoveRunEntries(CScanController& c, const char16_t* text) override { (void)::RemoveRunEntries(c, text); }
    void CleanSoberRunEntries(CScanController& c, const char16_t* text) override { ::CleanSoberRunEntries(c, text); }
    void DeleteRegistryKey(CScanController& c, const char16_t* root, const char16_t* subkey) override {
        (void)::DeleteRegistryKey(c, root, subkey);
    }
    void DeleteRegistryValue(CScanController& c, const char16_t* root, const char16_t* subkey,
                             const char16_t* name) override {
        (void)::DeleteRegistryValue(c, root, subkey, name);
    }
    void ReplaceRegistryValue(CScanController& c, const char16_t* root, const char16_t* subkey, const char16_t* name,
                              const char16_t* oldData, const char16_t* newData) override {
        (void)::ReplaceRegistryValue(c, root, subkey, name, oldData, newData);
    }
    void CreateRegistryKey(CScanController& c, const char16_t* root, const char16_t* subkey) override {
        (void)::CreateRegistryKey(c, root, subkey);
    }
    void SetRegistryValue(CScanController& c, const char16_t* root, const char16_t* subkey, const char16_t* name,
                          const char16_t* typeName, const char16_t* data) override {
        (void)::SetRegistryValue(c, root, subkey, name, typeName, data);
    }
    const char16_t* GetWindowsDir() override {
        CProcessApi* api = CProcessApi::GetInstance();
        return api != nullptr ? api->GetWindowsDir() : nullptr;
    }
    const char16_t* GetSystemDir() override {
        CProcessApi* api = CProcessApi::GetInstance();
        return api != nullptr ? api->GetSystemDir() : nullptr;
    }
    const char16_t* GetSystemWow64Dir() override {
        systemWow64Dir_ = SystemWow64Directory();
        return systemWow64Dir_.empty() ? nullptr : systemWow64Dir_.c_str();
    }
    const ExecutableHeaders& Headers() override {
        CProcessApi* api = CProcessApi::GetInstance();
        return api != nullptr ? api->Headers() : none_;
    }
    std::unique_ptr<CRepairFile> OpenForRepair(const char16_t* path) override {
        CFsRedirectionOff redirection;
        HANDLE h = CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<CWin32RepairFile>(h);
    }

private:
    ExecutableHeaders none_;
    std::u16string systemWow64Dir_;
};

}  // namespace

CRemovalSystem& RunningRemovalSystem() {
    static CWin32RemovalSystem system;
    return system;
}
