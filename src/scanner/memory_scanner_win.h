// The memory scan phase: every module of every process read in overlapping
// blocks and searched for memory signatures; the hits handed to the removers
// after the walk.
#pragma once

#include <cstdint>
#include <memory>

#include "scan/scan_types.h"
#include "scanner/memory_scan.h"

class CProcessApi;

class CMemoryScanner : public CScanner {
public:
    CMemoryScanner();
    ~CMemoryScanner() override;
    CMemoryScanner(const CMemoryScanner&) = delete;
    CMemoryScanner& operator=(const CMemoryScanner&) = delete;

    int32_t GetKind() override { return 2; }
    // Keeps the window handle; the other arguments are not used.
    int32_t Scan(char16_t* pathBuffer, void* windowHandle, const DriveListNode* drives) override;

    // The hits of the last Scan (the script table stays until the next one).
    const CMemoryHits& Hits() const { return scan_.Hits(); }

    class CSystem;

private:
    CProcessApi* system_ = nullptr;
    std::unique_ptr<CSystem> walker_;
    void* window_ = nullptr;
    CMemoryScan scan_;
};
