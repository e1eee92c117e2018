// Files for the analyst tool's scan: a walk over a file or folder tree and
// files opened for reading, by UTF-8 path. Windows builds use the Win32 file
// functions (present on every Windows the tool runs on); others walk with
// std::filesystem and read with POSIX pread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "scanner/pe_scan.h"

enum class WalkResult { Walked, Missing };

// Calls `onFile` with the path of `utf8Path` when it is a regular file, or of
// every regular file below it when it is a folder. Symbolic links and
// junctions are not followed, so a loop cannot hold the walk; folders that
// cannot be listed are passed over. Missing when `utf8Path` cannot be accessed.
WalkResult WalkFiles(const std::string& utf8Path, const std::function<void(const std::string&)>& onFile);

// A file opened for reading; null when it cannot be opened.
std::unique_ptr<CReadableFile> OpenReadableFile(const std::string& utf8Path);
