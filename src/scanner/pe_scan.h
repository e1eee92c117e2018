// Reading a PE executable's headers and searching its regions for file
// signatures: the part of the file scan that does not depend on the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "scanner/pe_headers.h"

class CSignatureIndex;
struct SignatureIndexEntry;

// A file or stream opened for reading.
class CReadableFile {
public:
    virtual ~CReadableFile() = default;
    virtual uint64_t Size() = 0;
    // Reads up to `count` bytes at `offset` into `buffer`: the number read
    // (fewer at the end of the file), or -1 on a read error.
    virtual int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) = 0;
};

namespace pe {

constexpr uint64_t kMinFileSize = 312;
constexpr uint32_t kWholeRegionLimit = 40960;  // larger regions: first and last 20,480 bytes
constexpr uint32_t kRegionSample = 20480;
constexpr uint32_t kEntryRegionSize = 4096;
constexpr std::size_t kReadBufferSize = 131072;
// The first read of every file: enough for the headers and section table of
// nearly every executable, and all that is read of a file that is none.
constexpr std::size_t kHeadSize = 4096;
// Bytes one file may make the scan read; only hostile headers reach it.
constexpr uint64_t kReadBudget = 64ull << 20;

// One window of a region to read.
struct Window {
    uint64_t offset;
    uint32_t length;
};

// The windows of the region (offset, length): the whole region up to 40,960
// bytes, else its first and last 20,480 bytes.
std::vector<Window> RegionWindows(uint64_t offset, uint32_t length);

}  // namespace pe

enum class PeScanResult {
    NotExecutable,  // too short, no MZ/PE headers, no sections, or unreadable section table
    Clean,          // the section table was read and nothing matched
    Matched,        // `match` and `matchOffset` tell what and where
};

struct PeScanOutcome {
    PeScanResult result = PeScanResult::NotExecutable;
    const SignatureIndexEntry* match = nullptr;
    uint64_t matchOffset = 0;  // file offset where the signature begins
    double kilobytes = 0;      // sum over the windows read of bytes / 1,024 (whole KB each)
};

// Scans one file: its first 4,096 bytes are read first (the size is asked
// for only when they fill the read; nothing more is read of a file shorter
// than 312 bytes or not beginning with "MZ"). DOS header, NT headers and
// section table go into `headers` (the section table is read into
// `sectionTable`; on a match `headers` still points to it for the remover,
// and the caller clears it afterwards), then each section's raw data and,
// when `scanEntryPoint`, the 4,096 bytes at the entry point are searched,
// until the first match. `buffer` is the read buffer (at least 131,072
// bytes); no byte it holds is read again. `stop` is polled before every
// section and every window. Hostile headers are read safely: the section
// table is looked for after the optional header, only section headers read
// whole are visited, and nothing is read outside the file.
PeScanOutcome ScanPeFile(CReadableFile& file, const CSignatureIndex& index, ExecutableHeaders& headers,
                         std::vector<uint8_t>& sectionTable, std::vector<uint8_t>& buffer, bool scanEntryPoint,
                         const std::function<bool()>& stop);
