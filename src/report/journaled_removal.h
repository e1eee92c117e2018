// The removal system the scan hands to the removers: every primitive goes on
// to the system underneath, and is written down in the journal with its
// outcome; before a file is deleted, renamed over or repaired, the quarantine
// keeps a copy.
#pragma once

#include <memory>

#include "quarantine/quarantine.h"
#include "removers/removal_system.h"
#include "report/detection_journal.h"
#include "scan/scan_types.h"

class CJournaledRemovalSystem : public CRemovalSystem {
public:
    // `quarantine` may be null (no copies kept).
    CJournaledRemovalSystem(CRemovalSystem& inner, CDetectionJournal& journal, CQuarantine* quarantine,
                            ScanStatistics& statistics);

    int TerminateProcessById(CScanController& controller, uint32_t processId) override;
    void TerminateProcesses(CScanController& controller, const std::vector<InfectedProcessRecord>& list) override;
    void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) override {
        inner_.FindProcessesByName(name, list);
    }
    int RemoveFile(CScanController& controller, const char16_t* path) override;
    int RenameFile(CScanController& controller, const char16_t* from, const char16_t* to) override;
    int CleanIniFile(CScanController& controller, const char16_t* text, int which) override;
    int RestoreHostsFile(CScanController& controller) override;
    int RemoveFromHostsFile(CScanController& controller, const char16_t* host) override;
    void ShowPopup(const char16_t* text) override { inner_.ShowPopup(text); }
    void RemoveRunEntries(CScanController& controller, const char16_t* text) override;
    void CleanSoberRunEntries(CScanController& controller, const char16_t* text) override;
    void DeleteRegistryKey(CScanController& controller, const char16_t* root, const char16_t* subkey) override;
    void DeleteRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                             const char16_t* name) override;
    void ReplaceRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                              const char16_t* name, const char16_t* oldData, const char16_t* newData) override;
    void CreateRegistryKey(CScanController& controller, const char16_t* root, const char16_t* subkey) override;
    void SetRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                          const char16_t* name, const char16_t* typeName, const char16_t* data) override;
    const char16_t* GetWindowsDir() override { return inner_.GetWindowsDir(); }
    const char16_t* GetSystemDir() override { return inner_.GetSystemDir(); }
    const char16_t* GetSystemWow64Dir() override { return inner_.GetSystemWow64Dir(); }
    const ExecutableHeaders& Headers() override { return inner_.Headers(); }
    std::unique_ptr<CRepairFile> OpenForRepair(const char16_t* path) override;

    // Asks the quarantine for a copy of `path` before `actionName` changes it;
    // notes the entry, or that it is missing, in `action`.
    void KeepCopy(const char16_t* path, const char16_t* actionName, ActionRecord& action);
    // Drops the copy of an action whose change did not happen.
    void DropCopy(ActionRecord& action);
    void Record(ActionRecord action) { journal_.Add(std::move(action)); }

private:
    void RecordRegistry(std::u16string target);

    CRemovalSystem& inner_;
    CDetectionJournal& journal_;
    CQuarantine* quarantine_;
    ScanStatistics& statistics_;
};
