// Keep(C:\WINDOWS\evil.exe, "W32/Stanit.A", "delete"): the file is opened
// without following a link, read once for its SHA-256 and size, then read
// again through the keystream into C:\WINDOWS\Tesmora\Quarantine\~tsq1a2b3c4d.tmp
// (the second read hashed again, so a file that changed meanwhile is refused),
// flushed, and renamed to 20261211T143501Z-5e6f7a8b.tsq.
#include "quarantine/quarantine_win.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "common/ansi_win.h"
#include "common/bind_win.h"
#include "common/file_io_win.h"
#include "common/windows_version_win.h"
#include "common/wow64_win.h"
#include "quarantine/sha256.h"
#include "quarantine/stored_entry.h"
#include "quarantine/quarantine_store.h"
#include "removal/file_guard_win.h"

namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

constexpr DWORD kChunk = 1 << 16;

// Whether `bytes` more leave the drive of `folder` a reserve: a copy never
// fills the Windows drive (the reserve is the smaller of 64 MB and a
// twentieth of the drive). True where the system cannot tell.
bool LeavesReserve(const std::u16string& folder, uint64_t bytes) {
    ULARGE_INTEGER available{}, total{}, free{};
    BOOL known = FALSE;
    if (IsWindows9xFamily()) {
        using QueryFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
        static const auto query = BindLoaded<QueryFn>(L"kernel32.dll", "GetDiskFreeSpaceExA");  // 95 OSR2 on
        const std::optional<std::string> ansi = WideToAnsi(folder + u"\\");
        if (query == nullptr || !ansi) return true;
        known = query(ansi->c_str(), &available, &total, &free);
    } else {
        using QueryFn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
        static const auto query = BindLoaded<QueryFn>(L"kernel32.dll", "GetDiskFreeSpaceExW");
        if (query == nullptr) return true;
        known = query(W(folder + u"\\"), &available, &total, &free);
    }
    if (!known) return true;
    const uint64_t reserve = std::min<uint64_t>(64ull << 20, total.QuadPart / 20);
    return available.QuadPart >= reserve && available.QuadPart - reserve >= bytes;
}

// `path` is a real folder: created when missing, never a reparse point.
bool EnsureFolder(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(W(path), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        attributes = GetFileAttributesW(W(path));
    }
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Reads `file` from where its pointer is to its end, `onChunk` called with
// each piece; false when a read or `onChunk` fails.
bool ReadToEnd(HANDLE file, std::vector<uint8_t>& buffer, const std::function<bool(uint8_t*, std::size_t)>& onChunk) {
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!onChunk(buffer.data(), static_cast<std::size_t>(got))) return false;
    }
}

}  // namespace

std::u16string TesmoraDataFolder() {
    wchar_t windows[MAX_PATH + 1];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return std::u16string();
    std::u16string folder(windows, windows + n);
    if (folder.back() != u'\\') folder += u'\\';
    return folder + u"Tesmora";
}

std::u16string DefaultQuarantineFolder() {
    const std::u16string root = TesmoraDataFolder();
    return root.empty() ? root : root + u"\\Quarantine";
}

bool RenameNew(const std::u16string& from, const std::u16string& to) {
    // MoveFileExW is a stub on 9x/ME; neither call replaces an existing `to`.
    if (IsWindows9xFamily()) return MoveFileW(W(from), W(to)) != FALSE;
    return MoveFileExW(W(from), W(to), MOVEFILE_WRITE_THROUGH) != FALSE;
}

CWindowsQuarantine::CWindowsQuarantine(std::u16string root)
    : root_(std::move(root)), folder_(root_.empty() ? root_ : root_ + u"\\Quarantine") {}

QuarantineOutcome CWindowsQuarantine::Keep(std::u16string_view pathView, std::u16string_view family,
                                           std::u16string_view action) {
    // The path names a file as the removal primitives see it: with
    // redirection off, a system-folder path is the real system folder's.
    CFsRedirectionOff redirection;
    QuarantineOutcome outcome;
    outcome.kind = QuarantineOutcome::kMissing;
    const std::u16string path(pathView);
    const bool nineX = IsWindows9xFamily();
    // 9x/ME has no links, and no FILE_SHARE_DELETE.
    UniqueHandle file =
        nineX ? UniqueHandle(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
              : OpenUnfollowed(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!file) {
        const DWORD attributes = GetFileAttributesW(W(path));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                outcome.kind = QuarantineOutcome::kAbsent;
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            outcome.kind = QuarantineOutcome::kAbsent;
        }
        return outcome;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) return outcome;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        outcome.kind = QuarantineOutcome::kAbsent;
        return outcome;
    }
    // A link opened as itself has no content of its own to keep.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return outcome;
    if (!IsDetectedFile(path.c_str(), file.get())) return outcome;

    std::vector<uint8_t> buffer(kChunk);
    CSha256 first;
    uint64_t size = 0;
    if (!ReadToEnd(file.get(), buffer, [&](uint8_t* data, std::size_t n) {
            first.Update(data, n);
            size += n;
            return true;
        })) {
        return outcome;
    }
    if (!EnsureFolder(root_) || !EnsureFolder(folder_) || !LeavesReserve(folder_, size)) return outcome;

    const UtcTime now = CurrentUtcTime();
    QuarantineEntry entry;
    for (int attempt = 0; attempt < 8 && entry.id.empty(); ++attempt) {
        const std::u16string id = NewEntryId(now, FreshNameTag());
        if (!PathExists(W(folder_ + u"\\" + EntryFileName(id)))) entry.id = id;
    }
    if (entry.id.empty()) return outcome;
    entry.originalPath = path;
    entry.time = EntryTime(now);
    entry.family = family;
    entry.action = action;
    entry.sha256 = first.FinalHex();
    entry.size = size;
    const std::optional<std::vector<uint8_t>> head = StoredEntryHead(entry);
    if (!head || !SeekFile64(file.get(), 0)) return outcome;

    std::u16string temporary;
    UniqueHandle stored = CreateFreshFile(folder_, u"~tsq", GENERIC_WRITE, temporary);
    if (!stored) return outcome;
    CSha256 second;
    uint64_t copied = 0;
    CEntryKeystream keystream(entry.id);
    bool written = WriteAllBytes(stored.get(), head->data(), head->size()) &&
                   ReadToEnd(file.get(), buffer, [&](uint8_t* data, std::size_t n) {
                       second.Update(data, n);
                       copied += n;
                       keystream.Apply(data, n);
                       return copied <= size && WriteAllBytes(stored.get(), data, n);
                   });
    written = written && copied == size && second.FinalHex() == entry.sha256 && FlushFileBuffers(stored.get());
    stored.reset();
    const std::u16string final = folder_ + u"\\" + EntryFileName(entry.id);
    if (!written || !RenameNew(temporary, final)) {
        DeleteFileW(W(temporary));
        return outcome;
    }
    outcome.kind = QuarantineOutcome::kKept;
    outcome.entry = std::move(entry);
    return outcome;
}

void CWindowsQuarantine::Discard(std::u16string_view id) {
    if (folder_.empty() || !IsValidEntryId(id)) return;
    DeleteFileW(W(folder_ + u"\\" + EntryFileName(id)));
}
