#include "removers/removal_system.h"

namespace {

CRemovalSystem* g_installed = nullptr;

#ifndef _WIN32
// No processes, files, registry or folders: every primitive does nothing.
class CEmptySystem : public CRemovalSystem {
public:
    int TerminateProcessById(CScanController&, uint32_t) override { return 0; }
    void TerminateProcesses(CScanController&, const std::vector<InfectedProcessRecord>&) override {}
    void FindProcessesByName(const char16_t*, std::vector<InfectedProcessRecord>&) override {}
    int RemoveFile(CScanController&, const char16_t*) override { return 2; }
    int RenameFile(CScanController&, const char16_t*, const char16_t*) override { return 2; }
    int CleanIniFile(CScanController&, const char16_t*, int) override { return 2; }
    int RestoreHostsFile(CScanController&) override { return 2; }
    int RemoveFromHostsFile(CScanController&, const char16_t*) override { return 2; }
    void ShowPopup(const char16_t*) override {}
    void RemoveRunEntries(CScanController&, const char16_t*) override {}
    void CleanSoberRunEntries(CScanController&, const char16_t*) override {}
    void DeleteRegistryKey(CScanController&, const char16_t*, const char16_t*) override {}
    void DeleteRegistryValue(CScanController&, const char16_t*, const char16_t*, const char16_t*) override {}
    void ReplaceRegistryValue(CScanController&, const char16_t*, const char16_t*, const char16_t*, const char16_t*,
                              const char16_t*) override {}
    void CreateRegistryKey(CScanController&, const char16_t*, const char16_t*) override {}
    void SetRegistryValue(CScanController&, const char16_t*, const char16_t*, const char16_t*, const char16_t*,
                          const char16_t*) override {}
    const char16_t* GetWindowsDir() override { return nullptr; }
    const char16_t* GetSystemDir() override { return nullptr; }
    const char16_t* GetSystemWow64Dir() override { return nullptr; }
    const ExecutableHeaders& Headers() override { return headers_; }
    std::unique_ptr<CRepairFile> OpenForRepair(const char16_t*) override { return nullptr; }

private:
    ExecutableHeaders headers_;
};
#endif

}  // namespace

#ifndef _WIN32
CRemovalSystem& RunningRemovalSystem() {
    static CEmptySystem system;
    return system;
}
#endif

CRemovalSystem& GetRemovalSystem() { return g_installed != nullptr ? *g_installed : RunningRemovalSystem(); }

CRemovalSystem* UseRemovalSystem(CRemovalSystem* system) {
    CRemovalSystem* previous = g_installed;
    g_installed = system;
    return previous;
}
