// What the removers need of the system they run on: the removal primitives,
// the Windows and system folders, the executable-header work area and files
// opened for repair. The Windows build binds the real primitives; tests
// install their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "removers/remover.h"
#include "scanner/pe_headers.h"

class CScanController;

// A file opened for reading and writing.
class CRepairFile {
public:
    virtual ~CRepairFile() = default;
    virtual uint64_t Size() = 0;
    // Bytes read at `offset` (fewer at the end of the file), or -1.
    virtual int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) = 0;
    // Bytes written at `offset`, or -1.
    virtual int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) = 0;
    // Makes the writes so far the file's content: false when they could not
    // be. A file that stages its writes leaves the file on disk unchanged
    // until then, and entirely so when this is never called.
    virtual bool Commit() { return true; }
};

// Results are those of the primitives: 1 done or scheduled, 2 nothing done,
// and the few codes of each primitive.
class CRemovalSystem {
public:
    virtual ~CRemovalSystem() = default;

    // 1 terminated, 0 not.
    virtual int TerminateProcessById(CScanController& controller, uint32_t processId) = 0;
    virtual void TerminateProcesses(CScanController& controller, const std::vector<InfectedProcessRecord>& list) = 0;
    virtual void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) = 0;

    // 0 failed, 1 done or scheduled, 2 nothing done.
    virtual int RemoveFile(CScanController& controller, const char16_t* path) = 0;
    // 1 done or scheduled, 2 nothing done, 3 handed to the shell.
    virtual int RenameFile(CScanController& controller, const char16_t* from, const char16_t* to) = 0;

    // 1 changed, 2 not. `which`: 1 system.ini, 2 win.ini.
    virtual int CleanIniFile(CScanController& controller, const char16_t* text, int which) = 0;
    // 1 rewritten, 2 failed, 7 (hosts entry) no entry.
    virtual int RestoreHostsFile(CScanController& controller) = 0;
    virtual int RemoveFromHostsFile(CScanController& controller, const char16_t* host) = 0;
    // The application's modal message box; returns when the user closed it.
    virtual void ShowPopup(const char16_t* text) = 0;

    virtual void RemoveRunEntries(CScanController& controller, const char16_t* text) = 0;
    virtual void CleanSoberRunEntries(CScanController& controller, const char16_t* text) = 0;
    virtual void DeleteRegistryKey(CScanController& controller, const char16_t* root, const char16_t* subkey) = 0;
    virtual void DeleteRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                                     const char16_t* name) = 0;
    virtual void ReplaceRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                                      const char16_t* name, const char16_t* oldData, const char16_t* newData) = 0;
    virtual void CreateRegistryKey(CScanController& controller, const char16_t* root, const char16_t* subkey) = 0;
    // `typeName` and `data` may be null.
    virtual void SetRegistryValue(CScanController& controller, const char16_t* root, const char16_t* subkey,
                                  const char16_t* name, const char16_t* typeName, const char16_t* data) = 0;

    // Null when unknown.
    virtual const char16_t* GetWindowsDir() = 0;
    virtual const char16_t* GetSystemDir() = 0;
    // The system folder of the 32-bit programs of 64-bit Windows (SysWOW64),
    // where a 32-bit worm's system files land; null where there is none.
    virtual const char16_t* GetSystemWow64Dir() = 0;

    // The headers of the file the file scan is at.
    virtual const ExecutableHeaders& Headers() = 0;
    // Null when the file cannot be opened for reading and writing.
    virtual std::unique_ptr<CRepairFile> OpenForRepair(const char16_t* path) = 0;
};

// The system the removers act on: the one installed by UseRemovalSystem, or
// else the running system.
CRemovalSystem& GetRemovalSystem();
// Installs `system` (null: the running system again); returns the previous one.
CRemovalSystem* UseRemovalSystem(CRemovalSystem* system);
// The running system: the Win32 primitives on Windows; elsewhere a system in
// which there is nothing to act on (every primitive does nothing).
CRemovalSystem& RunningRemovalSystem();
