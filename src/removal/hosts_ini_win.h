// Undoing malware changes to the hosts file and to system.ini and win.ini.
// hosts and hosts.bak: the Windows folder on 9x/ME, the system folder's
// drivers\etc on the NT family. Changes set ScanStatistics::hostsChanges or
// ::iniChanges to 1.
#pragma once

class CScanController;

enum class HostsResult : int {
    Rewritten = 1,
    Failed = 2,    // missing, empty, not 8-bit text, unreadable, or not writable
    NoEntry = 7,   // no entry names the host; the file is untouched
};

// Saves the hosts file to hosts.bak, disables every entry and appends the
// localhost line. Nothing is written unless the whole new text is ready.
[[nodiscard]] HostsResult RestoreHostsFile(CScanController& controller);
// Disables the entries whose first or second word is `host`.
[[nodiscard]] HostsResult RemoveFromHostsFile(CScanController& controller, const char16_t* host);

enum class IniFile : int { SystemIni = 1, WinIni = 2 };
enum class IniResult : int {
    Changed = 1,
    NotChanged = 2,  // nothing matched, no such file or `which`, or a write failed
};
// Empties the value of every entry naming `text` after its "=" (the key
// "shell" gets "explorer.exe"), through the system's profile functions.
[[nodiscard]] IniResult CleanIniFile(CScanController& controller, const char16_t* text, int which);
