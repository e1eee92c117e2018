// 64-bit file size and position over GetFileSize and SetFilePointer with
// their high parts, which every Windows has (the Ex forms need Windows 2000).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/handles_win.h"

// The size of an open file; false when it cannot be read.
bool GetFileSize64(HANDLE file, uint64_t& size);
// Moves the file pointer to `offset` from the start; false when it did not get there.
bool SeekFile64(HANDLE file, uint64_t offset);

// Whether `path` names an existing file or folder (as _waccess(path, 0) == 0,
// which is a stub on 9x/ME; this reaches the system through the Unicode layer).
bool PathExists(const wchar_t* path);
// The whole content of the file at `path`; nothing when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadFileBytes(const wchar_t* path);

// Eight hexadecimal digits for the name of a new file or folder, different at
// every call; the caller creates it exclusively (CREATE_NEW, CreateDirectoryW)
// and asks again when the name is taken.
std::u16string FreshNameTag();

// A new file in `folder` named `prefix` + FreshNameTag() + ".tmp", created
// with CREATE_NEW and no sharing (never a file or link planted under the
// name); `name` receives its path. Empty handle on failure.
UniqueHandle CreateFreshFile(const std::u16string& folder, const char16_t* prefix, DWORD access,
                             std::u16string& name);
// Writes all `size` bytes (in pieces of at most 1 MB); false on a short or
// failed write (a full disk).
bool WriteAllBytes(HANDLE file, const void* data, std::size_t size);
