#include "scan/scan_phases_win.h"

#include "scanner/file_scanner_win.h"
#include "scanner/memory_scanner_win.h"

std::vector<std::unique_ptr<CScanner>> CreateScanPhases() {
    std::vector<std::unique_ptr<CScanner>> phases;
    phases.push_back(std::make_unique<CMemoryScanner>());
    phases.push_back(std::make_unique<CFileScanner>());
    return phases;
}
