#include "win/scan_phases.h"

#include "win/file_scanner.h"
#include "win/memory_scanner.h"

std::vector<std::unique_ptr<CScanner>> CreateScanPhases() {
    std::vector<std::unique_ptr<CScanner>> phases;
    phases.push_back(std::make_unique<CMemoryScanner>());
    phases.push_back(std::make_unique<CFileScanner>());
    return phases;
}
