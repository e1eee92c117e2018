#include "common/file_io_win.h"

#include "common/handles_win.h"

#include <cstdio>

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

bool PathExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::vector<uint8_t>> ReadFileBytes(const wchar_t* path) {
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    uint64_t size = 0;
    if (!file || !GetFileSize64(file.get(), size) || size > 0x7FFFFFFF) return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) break;  // the file shrank
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::u16string FreshNameTag() {
    static volatile LONG counter = 0;
    const unsigned long mixed = static_cast<unsigned long>(GetTickCount() * 2654435761u ^ GetCurrentProcessId() << 16 ^
                                                           static_cast<DWORD>(InterlockedIncrement(&counter)));
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08lx", mixed & 0xFFFFFFFFul);
    return std::u16string(tag, tag + 8);
}

UniqueHandle CreateFreshFile(const std::u16string& folder, const char16_t* prefix, DWORD access,
                             std::u16string& name) {
    for (int attempt = 0; attempt < 32; ++attempt) {
        name = folder + u"\\" + prefix + FreshNameTag() + u".tmp";
        UniqueHandle file(CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), access, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return UniqueHandle();
}

bool WriteAllBytes(HANDLE file, const void* data, std::size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (std::size_t at = 0; at < size;) {
        const DWORD want = static_cast<DWORD>(size - at < (1u << 20) ? size - at : (1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes + at, want, &written, nullptr) || written != want) return false;
        at += written;
    }
    return true;
}
