// The in-place repair of an executable infected by W32/Stanit, over a file
// opened for reading and writing and the headers the file scan read from it.
#pragma once

#include <cstdint>

#include "scanner/pe_headers.h"

class CRepairFile;

enum StanitRepairResult : int32_t {
    kStanitRepaired = 0,          // repaired, or the entry code is not the virus's
    kStanitIoFailed = -1,         // a read or write step failed
    kStanitNotOpened = -2,        // the file could not be opened for reading and writing
    kStanitDropper = -3,          // the entry point is at file offset 512
    kStanitHostOverwritten = -4,  // virus code zeroed, but host code after it was overwritten
};

namespace stanit {
constexpr uint32_t kDropperEntryOffset = 512;
constexpr uint32_t kVirusCodeSize = 3666;    // zeroed from the entry point
constexpr uint32_t kTrailOffset = 3667;      // the ten bytes checked after the virus code
constexpr uint32_t kTrailSize = 10;
constexpr uint32_t kEntryCodeSize = 10;
}  // namespace stanit

// File offset of the entry point of the headers (0 when no section holds it).
uint32_t StanitEntryOffset(const ExecutableHeaders& headers);

// `file` is null when the file could not be opened. Writes only inside the
// file: the entry-point field of the optional header and the virus code,
// cut at the end of the file; the file's length never changes.
int32_t RepairStanitFile(CRepairFile* file, const ExecutableHeaders& headers);
