// The running system's removal primitives, for the Windows build.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "common/string_table.h"
#include "removers/removal_system.h"
#include "removal/file_guard_win.h"
#include "removal/file_removal_win.h"
#include "removal/file_replace_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"
#include "removal/hosts_ini_win.h"
#include "scanner/process_api_win.h"
#include "removal/processes_win.h"
#include "removal/registry_win.h"

namespace {

// A repaired program is rewritten whole; larger files are refused.
constexpr uint64_t kMaxRepairSize = 512ull << 20;

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The file to repair, held open against other writers while its content is
// read; the writes go to that copy, and Commit puts the whole repaired copy in
// the file's place in one step, while the path still names the same file.
class CStagedRepairFile : public CRepairFile {
public:
    CStagedRepairFile(std::u16string path, UniqueHandle file, std::vector<uint8_t> content,
                      std::optional<FileIdentity> identity)
        : path_(std::move(path)), file_(std::move(file)), content_(std::move(content)), identity_(identity) {}
    uint64_t Size() override { return content_.size(); }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (offset >= content_.size()) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, content_.size() - offset));
        std::memcpy(buffer, content_.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) override {
        // Inside the file only: its length never changes.
        if (offset > content_.size() || count > content_.size() - offset) return -1;
        std::memcpy(content_.data() + offset, buffer, count);
        written_ = true;
        return static_cast<int64_t>(count);
    }
    bool Commit() override {
        if (!written_) return true;
        file_.reset();  // the replacement needs the file unshared
        CFsRedirectionOff redirection;
        const std::string_view bytes(reinterpret_cast<const char*>(content_.data()), content_.size());
        return ReplaceFileContent(path_, bytes, identity_);
    }

private:
    std::u16string path_;
    UniqueHandle file_;
    std::vector<uint8_t> content_;
    std::optional<FileIdentity> identity_;
    bool written_ = false;
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
        // Opened for writing, as the repair needs, so that a read-only or
        // locked file is refused as before; never through a final link, and
        // only while the path names the file the scan found.
        CFsRedirectionOff redirection;
        UniqueHandle file = OpenUnfollowed(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
        if (!file || !IsDetectedFile(path, file.get())) return nullptr;
        uint64_t size = 0;
        if (!GetFileSize64(file.get(), size) || size > kMaxRepairSize) return nullptr;
        std::vector<uint8_t> content(static_cast<std::size_t>(size));
        for (std::size_t at = 0; at < content.size();) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(content.size() - at, 1 << 20));
            if (!ReadFile(file.get(), content.data() + at, want, &got, nullptr) || got == 0) return nullptr;
            at += got;
        }
        const std::optional<FileIdentity> identity = IdentityOf(file.get());
        return std::make_unique<CStagedRepairFile>(path, std::move(file), std::move(content), identity);
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
