// Deleting and renaming files, deferred to the next start of Windows when it
// cannot be done at once: a delayed move on the NT family, a "[rename]"
// entry of WININIT.INI on Windows 9x/ME. A deferral sets rebootRequired.
#pragma once

#include <cstdint>

class CScanController;

enum class RemoveFileResult : int {
    Failed = 0,       // not deleted and not scheduled: the NT delayed move was
                      // refused, or (9x/ME) WININIT.INI could not be read or written
    Done = 1,         // deleted now, or scheduled
    NothingDone = 2,  // missing, a directory, handled before, handed to the shell,
                      // or no ANSI form
};

enum class RenameFileResult : int {
    Done = 1,         // renamed now, or scheduled
    NothingDone = 2,  // source missing or a directory, or the deferral failed
    HandedToShell = 3,
};

// Counts removedFiles; records the path in the system object's path table.
[[nodiscard]] RemoveFileResult RemoveFile(CScanController& controller, const char16_t* path);
// Counts renamedFiles.
[[nodiscard]] RenameFileResult RenameFile(CScanController& controller, const char16_t* from, const char16_t* to);

// True when no file matches `path`, or the first match has exactly the
// directory attribute.
bool IsMissingOrDirectory(const char16_t* path);

// Size of the file in bytes; 0 when it cannot be opened or measured.
uint32_t GetFileSize32(const char16_t* path);
