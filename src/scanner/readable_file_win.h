// An open file handle as the PE reader reads it.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "common/bind_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/windows_version_win.h"
#include "scanner/pe_scan.h"

// NtReadFile of the NT family, bound once: a read at an offset in one call.
// (ReadFile with an OVERLAPPED record reads there too, but then asks whether
// a completion port waits for the handle, a server round trip under Wine.)
// Null on 9x/ME, whose files are read at the file pointer.
using NtReadFileFn = NTSTATUS(NTAPI*)(HANDLE file, HANDLE event, PVOID apc, PVOID apcContext, PIO_STATUS_BLOCK io,
                                      PVOID buffer, ULONG length, PLARGE_INTEGER offset, PULONG key);
inline NtReadFileFn PositionedRead() {
    static const NtReadFileFn read = []() -> NtReadFileFn {
        const std::optional<WindowsVersion> version = QueryWindowsVersion();
        if (!version || !version->IsNt()) return nullptr;
        return BindLoaded<NtReadFileFn>(L"ntdll.dll", "NtReadFile");
    }();
    return read;
}

class CWin32ReadableFile : public CReadableFile {
public:
    // Owns `handle` (null or INVALID_HANDLE_VALUE: not open).
    explicit CWin32ReadableFile(HANDLE handle) : handle_(handle), read_(PositionedRead()) {}
    bool IsOpen() const { return static_cast<bool>(handle_); }
    HANDLE Handle() const { return handle_.get(); }
    void Close() { handle_.reset(); }
    uint64_t Size() override {
        uint64_t size = 0;
        return GetFileSize64(handle_.get(), size) ? size : 0;
    }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (read_ != nullptr) {
            if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
            IO_STATUS_BLOCK io{};
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(offset);
            const NTSTATUS status =
                read_(handle_.get(), nullptr, nullptr, nullptr, &io, buffer, static_cast<ULONG>(count), &at, nullptr);
            if (status >= 0) return static_cast<int64_t>(io.Information);
            return status == static_cast<NTSTATUS>(0xC0000011L) ? 0 : -1;  // STATUS_END_OF_FILE: nothing to read
        }
        DWORD got = 0;
        if (!SeekFile64(handle_.get(), offset)) return -1;
        if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
        return got;
    }

private:
    UniqueHandle handle_;
    NtReadFileFn read_;
};

// `path` opened for reading, sharing reading and writing with others.
inline HANDLE OpenForReading(const wchar_t* path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
