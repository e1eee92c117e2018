// A removal system of the test's own: every primitive call is recorded as a
// line, results come from tables, files for repair live in memory. And a
// scan session whose output is collected.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "removers/removal_system.h"
#include "scan/scan_controller.h"
#include "support/recording_remover.h"

// A file in memory opened for reading and writing; writes past the end grow
// it, as a real file would.
class CMemoryRepairFile : public CRepairFile {
public:
    explicit CMemoryRepairFile(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint64_t Size() override { return bytes_.size(); }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override;
    int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) override;

private:
    std::vector<uint8_t>& bytes_;
};

class CRecordingSystem : public CRemovalSystem {
public:
    // Installs itself for its lifetime.
    CRecordingSystem();
    ~CRecordingSystem() override;

    int TerminateProcessById(CScanController&, uint32_t processId) override;
    void TerminateProcesses(CScanController&, const std::vector<InfectedProcessRecord>& list) override;
    void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) override;
    int RemoveFile(CScanController&, const char16_t* path) override;
    int RenameFile(CScanController&, const char16_t* from, const char16_t* to) override;
    int CleanIniFile(CScanController&, const char16_t* text, int which) override;
    int RestoreHostsFile(CScanController&) override;
    int RemoveFromHostsFile(CScanController&, const char16_t* host) override;
    void ShowPopup(const char16_t* text) override;
    void RemoveRunEntries(CScanController&, const char16_t* text) override;
    void CleanSoberRunEntries(CScanController&, const char16_t* text) override;
    void DeleteRegistryKey(CScanController&, const char16_t* root, const char16_t* subkey) override;
    void DeleteRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey,
                             const char16_t* name) override;
    void ReplaceRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey, const char16_t* name,
                              const char16_t* oldData, const char16_t* newData) override;
    void CreateRegistryKey(CScanController&, const char16_t* root, const char16_t* subkey) override;
    void SetRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey, const char16_t* name,
                          const char16_t* typeName, const char16_t* data) override;
    const char16_t* GetWindowsDir() override { return windowsDir.empty() ? nullptr : windowsDir.c_str(); }
    const char16_t* GetSystemDir() override { return systemDir.empty() ? nullptr : systemDir.c_str(); }
    const char16_t* GetSystemWow64Dir() override {
        return systemWow64Dir.empty() ? nullptr : systemWow64Dir.c_str();
    }
    const ExecutableHeaders& Headers() override { return headers; }
    std::unique_ptr<CRepairFile> OpenForRepair(const char16_t* path) override;

    // Calls in order, as "Name(arg|arg)"; a null argument shows as "-".
    std::vector<std::u16string> calls;

    // Results by first argument, else the default.
    std::map<std::u16string, int> removeResults;
    int removeDefault = 1;
    std::map<uint32_t, int> terminateResults;  // default 1
    std::map<std::u16string, int> results;      // by "Name(arg)" of rename, INI and hosts calls; default 1
    // Running processes by image name (exact).
    std::map<std::u16string, std::vector<uint32_t>> processes;

    std::u16string windowsDir = u"C:\\WINDOWS";
    std::u16string systemDir = u"C:\\WINDOWS\\system32";
    std::u16string systemWow64Dir;  // none, as on 32-bit Windows
    ExecutableHeaders headers;
    std::vector<uint8_t>* file = nullptr;  // null: cannot be opened for writing

private:
    int Result(const std::u16string& call);
    void Record(const char16_t* name, std::initializer_list<const char16_t*> args);
    CRemovalSystem* previous_;
};

// A controller over an empty script, its output collected.
struct CTestSession {
    CTestSession();
    CCollectingOutput output;
    CScriptTextHost host;
    CScanController controller;
};

InfectedProcessRecord ProcessRecordOf(const std::u16string& path, uint32_t processId);
