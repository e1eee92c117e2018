// 64-bit file size and position over GetFileSize and SetFilePointer with
// their high parts, which every Windows has (the Ex forms need Windows 2000).
#pragma once

#include <windows.h>

#include <cstdint>

// The size of an open file; false when it cannot be read.
bool GetFileSize64(HANDLE file, uint64_t& size);
// Moves the file pointer to `offset` from the start; false when it did not get there.
bool SeekFile64(HANDLE file, uint64_t offset);
