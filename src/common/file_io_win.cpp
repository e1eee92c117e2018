#include "common/file_io_win.h"

bool GetFileSize64(HANDLE file, uint64_t& size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    // 0xFFFFFFFF is also a valid low part: only the error code tells.
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool SeekFile64(HANDLE file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    return ((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low) == offset;
}
