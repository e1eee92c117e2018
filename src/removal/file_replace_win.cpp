// ReplaceFileContent(C:\WINDOWS\system32\drivers\etc\hosts, text): the text is
// written to ~tsm1a2b3c.tmp in drivers\etc, flushed, and put in the place of
// hosts by ReplaceFileW (which keeps the old file's security and streams);
// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH where
// that is missing, delete and rename on 9x/ME.
#include "removal/file_replace_win.h"

#include <algorithm>
#include <vector>

#include "common/bind_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/windows_version_win.h"
#include "removal/path_folders.h"

namespace {

const wchar_t* W(const std::u16string& p) { return reinterpret_cast<const wchar_t*>(p.c_str()); }

constexpr DWORD kProtecting = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A new file beside `path` under a name no one else holds.
UniqueHandle CreateSibling(const std::u16string& path, std::u16string& name) {
    const std::u16string folder = ContainingFolder(path);
    if (folder.empty()) return UniqueHandle();
    return CreateFreshFile(folder, u"~tsm", GENERIC_READ | GENERIC_WRITE, name);
}

bool WriteAllFlushed(HANDLE file, std::string_view bytes) {
    return WriteAllBytes(file, bytes.data(), bytes.size()) && FlushFileBuffers(file) != FALSE;
}

// Puts `replacement` in the place of the existing `path`.
bool Swap(const std::u16string& path, const std::u16string& replacement) {
    if (IsWindows9xFamily()) {
        // No replacing rename on 9x/ME: the best there is.
        return DeleteFileW(W(path)) && MoveFileW(W(replacement), W(path));
    }
    using ReplaceFileWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID);
    static const auto replace = BindLoaded<ReplaceFileWFn>(L"kernel32.dll", "ReplaceFileW");
    if (replace != nullptr &&
        replace(W(path), W(replacement), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return true;
    }
    // Also where ReplaceFileW gave up after moving the old file away.
    return MoveFileExW(W(replacement), W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

bool ReplaceFileContent(const std::u16string& path, std::string_view bytes,
                        const std::optional<FileIdentity>& expected) {
    const DWORD attributes = GetFileAttributesW(W(path));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    std::u16string temporary;
    {
        UniqueHandle file = CreateSibling(path, temporary);
        if (!file) return false;
        if (!WriteAllFlushed(file.get(), bytes)) {
            file.reset();
            DeleteFileW(W(temporary));
            return false;
        }
    }
    auto abandon = [&] {
        // Kept only when a failed swap left the new content as the one copy.
        if (!exists || GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES) DeleteFileW(W(temporary));
        return false;
    };
    if (expected) {
        UniqueHandle now = OpenUnfollowed(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        const std::optional<FileIdentity> identity = IdentityOf(now.get());
        if (!identity || *identity != *expected) return abandon();
    }
    const bool protectedFile = exists && (attributes & kProtecting) != 0;
    const DWORD unprotected = attributes & ~kProtecting;
    if (protectedFile) SetFileAttributesW(W(path), unprotected != 0 ? unprotected : FILE_ATTRIBUTE_NORMAL);
    const bool swapped = exists ? Swap(path, temporary) : MoveFileW(W(temporary), W(path)) != FALSE;
    if (!swapped) {
        if (protectedFile) SetFileAttributesW(W(path), attributes);
        return abandon();
    }
    if (protectedFile) SetFileAttributesW(W(path), attributes);
    const std::optional<std::vector<uint8_t>> back = ReadFileBytes(W(path));
    return back && back->size() == bytes.size() &&
           std::equal(back->begin(), back->end(), reinterpret_cast<const uint8_t*>(bytes.data()));
}
