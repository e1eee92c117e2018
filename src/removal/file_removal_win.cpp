// RemoveFile(C:\x.exe) with the file held open: DeleteFileW fails, so on the
// NT family MoveFileExW(C:\x.exe, null, MOVEFILE_DELAY_UNTIL_REBOOT) queues
// it; on 9x/ME the line NUL=C:\x.exe goes first into WININIT.INI's
// "[rename]" section. Either way rebootRequired is set and the file counted.
// Under WOW64 the file operations run with file-system redirection off, so a
// path in the system folder names the real (64-bit) one.
#include "removal/file_removal_win.h"

// Before <windows.h>, whose SearchPath macro would rename a type in it.
#include "scan/scan_controller.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "removal/reboot_flag.h"
#include "removal/wininit_text.h"
#include "common/ansi_win.h"
#include "common/bind_win.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/windows_version_win.h"
#include "common/wow64_win.h"
#include "scanner/process_api_win.h"

namespace {

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

bool IsWindows9xFamily() {
    const std::optional<WindowsVersion> version = QueryWindowsVersion();
    return version && version->IsWindows9x();
}

bool Accessible(const char16_t* path) { return PathExists(W(path)); }

// "\\?\" + path in a zero-filled buffer of 260 units, so that the path list
// handed to the shell ends in two zero units; false when it does not fit.
bool LongPathForm(const char16_t* path, wchar_t (&buffer)[260]) {
    std::memset(buffer, 0, sizeof buffer);
    const std::size_t n = std::char_traits<char16_t>::length(path);
    if (n + 4 + 2 > 260) return false;
    std::memcpy(buffer, L"\\\\?\\", 4 * sizeof(wchar_t));
    std::memcpy(buffer + 4, path, n * sizeof(char16_t));
    return true;
}

void ShellOperation(UINT function, FILEOP_FLAGS flags, const char16_t* from, const char16_t* to) {
    wchar_t fromBuffer[260], toBuffer[260];
    if (!LongPathForm(from, fromBuffer)) return;
    if (to != nullptr && !LongPathForm(to, toBuffer)) return;
    SHFILEOPSTRUCTW op{};
    op.wFunc = function;
    op.pFrom = fromBuffer;
    op.pTo = to != nullptr ? toBuffer : nullptr;
    op.fFlags = flags;
    // Bound at run time: the first shell of Windows 95 lacks it.
    using ShFileOperationFn = int(WINAPI*)(SHFILEOPSTRUCTW*);
    UniqueLibrary shell(LoadSystemLibrary(L"shell32.dll"));
    if (auto operation = BindFunction<ShFileOperationFn>(shell.get(), "SHFileOperationW")) operation(&op);
}

// The shell's file operation, run with redirection on (it loads libraries):
// the paths, which name files as they are with redirection off, are handed
// over by names that reach the same files; none is run when there are no
// such names.
void ShellOperation(CFsRedirectionOff& redirection, UINT function, FILEOP_FLAGS flags, const char16_t* fromPath,
                    const char16_t* toPath) {
    const bool translate = redirection.Active();
    redirection.Revert();
    const auto name = [translate](const char16_t* path) {
        return translate ? RedirectionFreeName(path) : std::u16string(path);
    };
    const std::u16string from = name(fromPath);
    const std::u16string to = toPath != nullptr ? name(toPath) : std::u16string();
    if (from.empty() || (toPath != nullptr && to.empty())) return;
    ShellOperation(function, flags, from.c_str(), toPath != nullptr ? to.c_str() : nullptr);
}

enum class WininitResult { Written, ReadFailed, ConversionFailed, WriteFailed };

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    if (bytes.size() > MAXDWORD) return false;
    const DWORD size = static_cast<DWORD>(bytes.size());
    return WriteFile(file, bytes.data(), size, &written, nullptr) && written == size;
}

// Adds destination=source (both already known to have ANSI forms) to the
// "[rename]" section of WININIT.INI. The existing file is read whole, the new
// text built and converted, and only then opened for writing without
// truncation, so any failure before the write leaves it as it was.
WininitResult AddToWininit(std::u16string_view destination, std::u16string_view source) {
    CProcessApi* api = CProcessApi::GetInstance();
    const char16_t* windowsDir = api != nullptr ? api->GetWindowsDir() : nullptr;
    if (windowsDir == nullptr) return WininitResult::ReadFailed;
    std::u16string path(windowsDir);
    path += u"\\WININIT.INI";
    const uint32_t size = Accessible(path.c_str()) ? GetFileSize32(path.c_str()) : 0;
    if (size == 0) {
        const auto bytes = WideToAnsi(AddWininitRename(u"", destination, source));
        if (!bytes) return WininitResult::ConversionFailed;
        UniqueHandle file(CreateFileW(W(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !WriteAll(file.get(), *bytes)) return WininitResult::WriteFailed;
        return WininitResult::Written;
    }
    std::vector<char> old(size);
    {
        const auto read = ReadFileBytes(W(path.c_str()));
        if (!read || read->size() != old.size()) return WininitResult::ReadFailed;
        std::copy(read->begin(), read->end(), old.begin());
    }
    const auto text = AnsiBytesToWide(std::string_view(old.data(), strnlen(old.data(), old.size())));
    if (!text) return WininitResult::ReadFailed;
    const auto bytes = WideToAnsi(AddWininitRename(*text, destination, source));
    if (!bytes) return WininitResult::ConversionFailed;
    UniqueHandle file(CreateFileW(W(path.c_str()), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return WininitResult::WriteFailed;
    if (!WriteAll(file.get(), *bytes) || !SetEndOfFile(file.get())) return WininitResult::WriteFailed;
    return WininitResult::Written;
}

}  // namespace

bool IsMissingOrDirectory(const char16_t* path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(W(path), &data);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY;
}

uint32_t GetFileSize32(const char16_t* path) {
    UniqueHandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    uint64_t size = 0;
    if (!file || !GetFileSize64(file.get(), size) || size > 0x7FFFFFFF) return 0;
    return static_cast<uint32_t>(size);
}

RemoveFileResult RemoveFile(CScanController& controller, const char16_t* path) {
    if (path == nullptr) return RemoveFileResult::NothingDone;
    // Made before redirection goes off: making it loads libraries.
    CProcessApi* api = CProcessApi::GetInstance();
    CFsRedirectionOff redirection;
    if (IsMissingOrDirectory(path)) return RemoveFileResult::NothingDone;
    if (!Accessible(path)) {
        ShellOperation(redirection, FO_DELETE, FOF_NOCONFIRMATION | FOF_NOERRORUI, path, nullptr);
        return RemoveFileResult::NothingDone;
    }
    if (api == nullptr || api->Paths().CheckAndRecord(path)) return RemoveFileResult::NothingDone;
    SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
    ScanStatistics& statistics = controller.GetStatistics();
    if (DeleteFileW(W(path))) {
        ++statistics.removedFiles;
        return RemoveFileResult::Done;
    }
    if (!IsWindows9xFamily()) {
        // A refused delayed move (no right to the pending-operations list)
        // schedules nothing, so it is not reported as scheduled.
        if (!MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return RemoveFileResult::Failed;
    } else {
        if (!WideToAnsi(path)) return RemoveFileResult::NothingDone;
        switch (AddToWininit(u"NUL", path)) {
            case WininitResult::Written: break;
            case WininitResult::ConversionFailed: return RemoveFileResult::NothingDone;
            case WininitResult::ReadFailed:
            case WininitResult::WriteFailed: return RemoveFileResult::Failed;
        }
    }
    SetRebootRequired();
    ++statistics.removedFiles;
    return RemoveFileResult::Done;
}

RenameFileResult RenameFile(CScanController& controller, const char16_t* from, const char16_t* to) {
    if (from == nullptr || to == nullptr) return RenameFileResult::NothingDone;
    // Made before redirection goes off: making it loads libraries.
    CProcessApi::GetInstance();
    CFsRedirectionOff redirection;
    if (IsMissingOrDirectory(from)) return RenameFileResult::NothingDone;
    if (!Accessible(from)) {
        ShellOperation(redirection, FO_RENAME, FOF_NOERRORUI, from, to);
        return RenameFileResult::HandedToShell;
    }
    SetFileAttributesW(W(from), FILE_ATTRIBUTE_NORMAL);
    ScanStatistics& statistics = controller.GetStatistics();
    if (MoveFileW(W(from), W(to))) {
        ++statistics.renamedFiles;
        return RenameFileResult::Done;
    }
    if (!IsWindows9xFamily()) {
        if (!MoveFileExW(W(from), W(to), MOVEFILE_DELAY_UNTIL_REBOOT)) return RenameFileResult::NothingDone;
    } else {
        if (!WideToAnsi(from) || !WideToAnsi(to)) return RenameFileResult::NothingDone;
        if (AddToWininit(to, from) != WininitResult::Written) return RenameFileResult::NothingDone;
    }
    SetRebootRequired();
    ++statistics.renamedFiles;
    return RenameFileResult::Done;
}
