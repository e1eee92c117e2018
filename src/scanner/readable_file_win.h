// An open file handle as the PE reader reads it.
#pragma once

#include <windows.h>

#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "scanner/pe_scan.h"

class CWin32ReadableFile : public CReadableFile {
public:
    // Owns `handle` (null or INVALID_HANDLE_VALUE: not open).
    explicit CWin32ReadableFile(HANDLE handle) : handle_(handle) {}
    bool IsOpen() const { return static_cast<bool>(handle_); }
    HANDLE Handle() const { return handle_.get(); }
    void Close() { handle_.reset(); }
    uint64_t Size() override {
        uint64_t size = 0;
        return GetFileSize64(handle_.get(), size) ? size : 0;
    }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (!SeekFile64(handle_.get(), offset)) return -1;
        DWORD got = 0;
        if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
        return got;
    }

private:
    UniqueHandle handle_;
};

// `path` opened for reading, sharing reading and writing with others.
inline HANDLE OpenForReading(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
