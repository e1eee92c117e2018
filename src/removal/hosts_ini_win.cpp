// RemoveFromHostsFile(controller, "www.av.com") on a hosts file holding
// "1.2.3.4 www.av.com\r\n" rewrites it to "# 1.2.3.4 www.av.com\r\n".
// CleanIniFile(controller, "evil.exe", 1) turns the system.ini entry
// shell=Explorer.exe evil.exe into shell=explorer.exe.
// Under WOW64 the files are read and written with file-system redirection
// off: the hosts file is the real system folder's.
#include "removal/hosts_ini_win.h"

// Before <windows.h>, whose macros would rename names in it.
#include "scan/scan_controller.h"

#include <windows.h>

#include "common/file_io_win.h"

#include <io.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "removal/hosts_text.h"
#include "removal/ini_text.h"
#include "common/ansi_win.h"
#include "removal/file_removal_win.h"
#include "removal/file_replace_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"
#include "scanner/process_api_win.h"

namespace {

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

// The hosts file (or its backup) of this Windows family.
std::optional<std::u16string> HostsPath(const char16_t* name) {
    CProcessApi* api = CProcessApi::GetInstance();
    if (api == nullptr) return std::nullopt;
    const char16_t* dir = api->isWindows9x() ? api->GetWindowsDir() : api->GetSystemDir();
    if (dir == nullptr) return std::nullopt;
    std::u16string path(dir);
    path += api->isWindows9x() ? u"\\" : u"\\drivers\\etc\\";
    path += name;
    return path;
}

// The text of the hosts file; nothing when it is missing, empty, unreadable,
// or holds a zero byte (not 8-bit text, e.g. UTF-16).
std::optional<std::u16string> ReadHosts(const std::u16string& path, std::string& bytes) {
    CFsRedirectionOff redirection;
    if (!PathExists(W(path.c_str()))) return std::nullopt;
    const uint32_t size = GetFileSize32(path.c_str());
    if (size == 0) return std::nullopt;
    const auto read = ReadFileBytes(W(path.c_str()));
    if (!read || read->size() != size) return std::nullopt;
    bytes.assign(read->begin(), read->end());
    if (bytes.find('\0') != std::string::npos) return std::nullopt;
    return AnsiBytesToWide(bytes);
}

// The whole file replaced in one step (see ReplaceFileContent).
bool WriteWhole(const std::u16string& path, const std::string& bytes) {
    CFsRedirectionOff redirection;
    return ReplaceFileContent(path, bytes);
}

}  // namespace

HostsResult RestoreHostsFile(CScanController& controller) {
    const auto path = HostsPath(u"hosts");
    const auto backup = HostsPath(u"hosts.bak");
    if (!path || !backup) return HostsResult::Failed;
    std::string old;
    const auto text = ReadHosts(*path, old);
    if (!text) return HostsResult::Failed;
    const auto bytes = WideToAnsi(DisableAllHostEntries(*text));
    if (!bytes) return HostsResult::Failed;
    // The first backup is the user's own file: a later run, after it was
    // cleaned once, keeps it.
    DWORD backupAttributes = INVALID_FILE_ATTRIBUTES;
    {
        CFsRedirectionOff redirection;
        backupAttributes = GetFileAttributesW(W(backup->c_str()));
    }
    if (backupAttributes != INVALID_FILE_ATTRIBUTES && (backupAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return HostsResult::Failed;
    }
    if (backupAttributes == INVALID_FILE_ATTRIBUTES && !WriteWhole(*backup, old)) return HostsResult::Failed;
    if (!WriteWhole(*path, *bytes)) return HostsResult::Failed;
    controller.GetStatistics().hostsChanges = 1;
    return HostsResult::Rewritten;
}

HostsResult RemoveFromHostsFile(CScanController& controller, const char16_t* host) {
    const auto path = HostsPath(u"hosts");
    if (!path || host == nullptr) return HostsResult::Failed;
    std::string old;
    const auto text = ReadHosts(*path, old);
    if (!text || !WideToAnsi(host)) return HostsResult::Failed;
    const auto changed = DisableHostEntries(*text, host);
    if (!changed) return HostsResult::NoEntry;
    const auto bytes = WideToAnsi(*changed);
    if (!bytes || !WriteWhole(*path, *bytes)) return HostsResult::Failed;
    controller.GetStatistics().hostsChanges = 1;
    return HostsResult::Rewritten;
}

IniResult CleanIniFile(CScanController& controller, const char16_t* text, int which) {
    if (which != static_cast<int>(IniFile::SystemIni) && which != static_cast<int>(IniFile::WinIni)) {
        return IniResult::NotChanged;
    }
    CProcessApi* api = CProcessApi::GetInstance();
    const char16_t* dir = api != nullptr ? api->GetWindowsDir() : nullptr;
    if (dir == nullptr || text == nullptr) return IniResult::NotChanged;
    std::u16string path(dir);
    path += which == static_cast<int>(IniFile::SystemIni) ? u"\\system.ini" : u"\\win.ini";
    CFsRedirectionOff redirection;
    if (!PathExists(W(path.c_str()))) return IniResult::NotChanged;

    std::vector<wchar_t> names(32768, L'\0');
    const DWORD namesUnits = GetPrivateProfileSectionNamesW(names.data(), 32768, W(path.c_str()));
    if (namesUnits == 0) return IniResult::NotChanged;
    std::vector<wchar_t> section(32766, L'\0');
    bool changed = false;
    for (DWORD at = 0; at < namesUnits && names[at] != 0; at += static_cast<DWORD>(wcslen(&names[at])) + 1) {
        const wchar_t* name = &names[at];
        const DWORD units = GetPrivateProfileSectionW(name, section.data(), 32766, W(path.c_str()));
        if (units == 0) continue;
        const std::u16string entries(section.begin(), section.begin() + units);
        for (const IniRewrite& r : SelectIniRewrites(entries, text)) {
            if (!WritePrivateProfileStringW(name, W(r.key.c_str()), W(r.value.c_str()), W(path.c_str()))) {
                return IniResult::NotChanged;
            }
            changed = true;
        }
    }
    if (!changed) return IniResult::NotChanged;
    controller.GetStatistics().iniChanges = 1;
    return IniResult::Changed;
}
