// Types shared by the scan controller, the scan phases and the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CScanController;

// Result of a scan or of one scan phase.
enum ScanResultCode : int32_t {
    kScanParseFailed = -20,
    kScanMemoryScannerFailed = -11,
    kScanNoDrives = -10,
    kScanInvalidHandle = -9,  // inside the file scan only
    kScanAborted = -8,
    kScanNoProcesses = -7,
    kScanSnapshotFailed = -6,
    kScanNoRights = -5,
    kScanInvalidVersion = -4,
    kScanVersionQueryFailed = -3,
    kScanSynchronizationError = -2,
    kScanInvalidArgument = -1,
    kScanCompleted = 0,
    kScanMalwareRemoved = 1,
};

// Posted to the main window when a stopped scan ends: wParam is the result
// code, lParam kScanResultTag.
constexpr uint32_t WM_SCAN_RESULT = 0x0400 + 1;
constexpr uint32_t kScanResultTag = 0xCAFEBABE;

// Counters of one scan; each phase clears its own when it starts.
struct ScanStatistics {
    uint32_t files = 0;
    uint32_t streams = 0;
    uint32_t directories = 0;
    uint32_t processes = 0;
    uint32_t unreadableProcesses = 0;  // passed over: memory out of reach (64-bit, seen from 32-bit)
    uint32_t modules = 0;
    uint32_t infectedFiles = 0;
    uint32_t infectedProcesses = 0;
    uint32_t removedFiles = 0;
    uint32_t renamedFiles = 0;
    uint32_t terminatedProcesses = 0;
    uint32_t registryChanges = 0;  // flags, not counts
    uint32_t hostsChanges = 0;
    uint32_t iniChanges = 0;
    double fileScanMs = 0;
    double memoryScanMs = 0;
    double fileKB = 0;
    double memoryKB = 0;
};

// One drive named on the command line ("C:" as typed), in command-line order.
struct DriveListNode {
    std::u16string text;
    std::unique_ptr<DriveListNode> next;
};

// The window side of a scan: output pane, status line, end of the scan.
class CScanOutput {
public:
    virtual ~CScanOutput() = default;
    virtual void SetStatusLine(std::u16string_view text) { SetStatusText(text, 0); }
    virtual void PrintHighlighted(std::u16string_view first, const char16_t* second, int ignored) = 0;
    virtual void Reserved1(int, int) {}
    virtual void Reserved2(int, int) {}
    virtual void Print(std::u16string_view text, int ignored) = 0;
    virtual void SetStatusText(std::u16string_view text, int ignored) = 0;
    // Called on the scan thread when a scan ran to its end.
    virtual void ScanFinished(ScanResultCode code) = 0;
    virtual const DriveListNode* GetDriveList() { return nullptr; }
};

// A scan phase. Kind 2 is the memory scan, kind 1 the file scan.
class CScanner {
public:
    virtual ~CScanner() = default;
    virtual int32_t GetKind() = 0;
    // Polls the owner's stop flag and returns kScanAborted when it is set.
    virtual int32_t Scan(char16_t* pathBuffer, void* windowHandle, const DriveListNode* drives) = 0;
    virtual void Reserved() {}
    virtual void SetOwner(CScanController* owner) { owner_ = owner; }

protected:
    CScanController* owner_ = nullptr;
};
