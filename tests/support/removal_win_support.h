// A scan session on the running system for the removal tests, and a scratch
// folder in the temporary directory removed with everything in it.
#pragma once

#include <memory>
#include <string>

#include "scan/scan_controller.h"
#include "scan/scan_host_win.h"

#include <windows.h>

class CRemovalSession {
public:
    CRemovalSession();
    ~CRemovalSession();
    CScanController& controller() { return *controller_; }
    ScanStatistics& statistics() { return controller_->GetStatistics(); }

private:
    class CNullOutput : public CScanOutput {
    public:
        void PrintHighlighted(std::u16string_view, const char16_t*, int) override {}
        void Print(std::u16string_view, int) override {}
        void SetStatusText(std::u16string_view, int) override {}
        void ScanFinished(ScanResultCode) override {}
    };
    CWin32ScanHost host_;
    CNullOutput output_;
    std::unique_ptr<CScanController> controller_;
};

class CScratchFolder {
public:
    CScratchFolder();
    ~CScratchFolder();
    // The folder's path joined with `name`.
    std::u16string Path(const char16_t* name) const;
    const std::u16string& root() const { return root_; }

private:
    std::u16string root_;
};

// Writes `bytes` to `path` (created or truncated); false on failure.
bool WriteBytes(const std::u16string& path, const std::string& bytes);
// The whole content of `path`, or "<missing>".
std::string ReadBytes(const std::u16string& path);
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
