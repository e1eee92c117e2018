// The main window: output pane, buttons, status line and bar, the scan
// session it owns, the log and the end of the program.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "report/json_report.h"
#include "scan/scan_controller.h"

class CQuarantine;
class CScanHost;

class CRemovalToolDlg : public CScanOutput {
public:
    explicit CRemovalToolDlg(CScanHost& host);
    ~CRemovalToolDlg() override;

    // Creates the window from template 102 and runs it until it ends;
    // returns the program's exit code.
    int Run();

    // CScanOutput, called on the scan thread.
    void PrintHighlighted(std::u16string_view first, const char16_t* second, int) override;
    void Print(std::u16string_view text, int) override;
    void SetStatusText(std::u16string_view text, int) override;
    void ScanFinished(ScanResultCode code) override;
    const DriveListNode* GetDriveList() override { return drives_.get(); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnStartScan();
    void OnStopScan();
    void OnExit();
    void AfterScan();
    void Ending();
    void EndWindow(int code);

    // Inserts `text` at the pane's end; `bold`/`color` change the format in
    // force (null keeps it).
    void Insert(std::u16string_view text, const bool* bold, const COLORREF* color);
    void PrintBanner();
    void PrintCommandLine();
    void PrintHostLine();
    void PrintReport();
    void WriteLogFile(const std::u16string& name);
    // False when the report could not be written.
    bool WriteReport(int32_t exitCode);
    std::u16string PaneText();

    CScanHost& host_;
    HICON icon_ = nullptr;
    HWND window_ = nullptr;
    HWND pane_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND stop_ = nullptr, start_ = nullptr, statusLine_ = nullptr, exit_ = nullptr;
    std::unique_ptr<DriveListNode> drives_;
    bool scanStarted_ = false;
    std::u16string productLine_, familiesLine_, versionLine_, lineBreak_, hint_;
    std::atomic<bool> outputBusy_{false};
    std::unique_ptr<CQuarantine> quarantine_;  // outlives the controller that uses it
    std::unique_ptr<CScanController> controller_;
    char16_t pathBuffer_[260] = {};
    int exitCode_ = 0;
    bool helpPrinted_ = false;
    bool firstScan_ = true;
    bool administrator_ = true;
    bool malwareFound_ = false;
    int32_t lastResult_ = 0;
    bool ended_ = false;
    std::u16string programName_;
    std::u16string hostName_;
    std::u16string reportFileName_;
    UtcTime startTime_;
};

// The Windows side of the command line: the log file access test.
bool CanWriteLogFile(std::u16string_view name);
// The executable's file name without directory and extension.
std::u16string ProgramName();
// Whether the process command line asks for silent mode.
bool IsSilentCommandLine();
