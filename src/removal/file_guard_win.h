// What keeps the removal primitives on the files the scan found: the identity
// of a detected file, opening without following a final link, deletion by
// handle, and the checks for links planted in the folders of a path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/handles_win.h"

// A file as the file system knows it, whatever path reaches it.
struct FileIdentity {
    uint32_t volumeSerial = 0;
    uint64_t fileIndex = 0;
    bool operator==(const FileIdentity& o) const { return volumeSerial == o.volumeSerial && fileIndex == o.fileIndex; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// Nothing on 9x/ME, whose file systems have no links and no stable file index.
std::optional<FileIdentity> IdentityOf(HANDLE file);

// While it lives, `path` names the file a scanner detected: the removal
// primitives and the repair act on that path only while it still opens a file
// of this identity. One at a time, on the scan thread.
class CDetectedFileScope {
public:
    CDetectedFileScope(const std::u16string& path, const std::optional<FileIdentity>& identity);
    ~CDetectedFileScope();
    CDetectedFileScope(const CDetectedFileScope&) = delete;
    CDetectedFileScope& operator=(const CDetectedFileScope&) = delete;
};

// Test seam: called with the path when a detected file is handed to removal.
using DetectionHook = void (*)(const char16_t* path);
void SetDetectionHook(DetectionHook hook);

// `path` opened without following a final reparse point.
UniqueHandle OpenUnfollowed(const char16_t* path, DWORD access, DWORD share);

// False when `path` names the detected file but now opens another one (or
// cannot be opened to tell); `open` is the file opened for the action, when
// there is one.
bool IsDetectedFile(const char16_t* path, HANDLE open = nullptr);

// The folders that users can write to: the profile, temporary, cookies and
// Internet cache folders (none on 9x/ME, which has no links). Asked before
// file-system redirection goes off: the queries may load libraries.
std::vector<std::u16string> UserWritableFolders();

// False when a folder of `path` below one of `userFolders` is a reparse
// point: a link there may lead anywhere.
bool UserFoldersUnlinked(const char16_t* path, const std::vector<std::u16string>& userFolders);

// False when any folder of `path`, or the file itself, is a reparse point:
// an operation deferred to the next start is resolved again then.
bool PathUnlinked(const char16_t* path);

// Clears the attributes of `file` (opened with FILE_WRITE_ATTRIBUTES and
// DELETE) and marks it for deletion when it is closed. False where the system
// cannot (9x/ME) or refuses (a running program's image, a sharing conflict).
bool DeleteByHandle(HANDLE file);
