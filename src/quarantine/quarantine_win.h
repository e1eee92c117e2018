// The quarantine on Windows: entries in %WINDIR%\Tesmora\Quarantine, each
// written whole to a temporary and renamed to <id>.tsq.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles_win.h"
#include "quarantine/quarantine.h"

// %WINDIR%\Tesmora, the program's folder for what it keeps; empty when the
// Windows folder is unknown.
std::u16string TesmoraDataFolder();
// %WINDIR%\Tesmora\Quarantine; empty when the Windows folder is unknown.
std::u16string DefaultQuarantineFolder();

// Keeps copies in `root`\Quarantine, creating both folders when missing and
// refusing (kMissing) when either is a reparse point or no folder. Keep reads
// with WOW64's file-system redirection off, as the removal primitives act,
// and loads no library.
class CWindowsQuarantine : public CQuarantine {
public:
    // `root`: %WINDIR%\Tesmora (TesmoraDataFolder), or another folder in tests.
    explicit CWindowsQuarantine(std::u16string root = TesmoraDataFolder());

    // Opens `path` without following a final link, and copies it only while it
    // is the file the scan found (IsDetectedFile). kAbsent: no such file, or a
    // folder. kMissing: unreadable, a link, changed while read, the copy would
    // leave the drive less than its reserve (the smaller of 64 MB and a
    // twentieth of the drive), or the entry could not be written (a full
    // disk), nothing left behind.
    QuarantineOutcome Keep(std::u16string_view path, std::u16string_view family,
                           std::u16string_view action) override;
    void Discard(std::u16string_view id) override;

    // `root`\Quarantine.
    const std::u16string& Folder() const { return folder_; }

private:
    std::u16string root_;
    std::u16string folder_;
};

// Renames `from` to `to` when nothing is at `to`, never replacing it (write
// through on the NT family). On failure GetLastError tells why.
bool RenameNew(const std::u16string& from, const std::u16string& to);
