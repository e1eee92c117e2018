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
#include "removal/file_guard_win.h"
#include "removal/file_replace_win.h"
#include "scanner/process_api_win.h"

namespace {

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

bool Accessible(const char16_t* path) { return PathExists(W(path)); }

// The shell's file operations never ask or show anything: the scan may run
// where no one watches (a service account's session).
constexpr FILEOP_FLAGS kShellFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;

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

// Adds destination=source (both already known to have ANSI forms) to the
// "[rename]" section of WININIT.INI. The existing file is read whole and the
// new text built and converted before anything is written; the new text then
// replaces the file in one step, so a failure leaves it as it was.
WininitResult AddToWininit(std::u16string_view destination, std::u16string_view source) {
    CProcessApi* api = CProcessApi::GetInstance();
    const char16_t* windowsDir = api != nullptr ? api->GetWindowsDir() : nullptr;
    if (windowsDir == nullptr) return WininitResult::ReadFailed;
    std::u16string path(windowsDir);
    path += u"\\WININIT.INI";
    const uint32_t size = Accessible(path.c_str()) ? GetFileSize32(path.c_str()) : 0;
    std::u16string text;
    if (size != 0) {
        const auto read = ReadFileBytes(W(path.c_str()));
        if (!read || read->size() != size) return WininitResult::ReadFailed;
        const char* bytes = reinterpret_cast<const char*>(read->data());
        const auto old = AnsiBytesToWide(std::string_view(bytes, strnlen(bytes, read->size())));
        if (!old) return WininitResult::ReadFailed;
        text = *old;
    }
    const auto bytes = WideToAnsi(AddWininitRename(text, destination, source));
    if (!bytes) return WininitResult::ConversionFailed;
    return ReplaceFileContent(path, *bytes) ? WininitResult::Written : WininitResult::WriteFailed;
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
    // Made before redirection goes off: making them loads libraries.
    CProcessApi* api = CProcessApi::GetInstance();
    const std::vector<std::u16string> userFolders = UserWritableFolders();
    CFsRedirectionOff redirection;
    if (IsMissingOrDirectory(path)) return RemoveFileResult::NothingDone;
    if (!Accessible(path)) {
        ShellOperation(redirection, FO_DELETE, kShellFlags, path, nullptr);
        return RemoveFileResult::NothingDone;
    }
    if (api == nullptr || api->Paths().CheckAndRecord(path)) return RemoveFileResult::NothingDone;
    ScanStatistics& statistics = controller.GetStatistics();
    if (!IsWindows9xFamily()) {
        // The file itself, not what a link in its place leads to, and only
        // while the path still reaches the file the scan found.
        UniqueHandle file = OpenUnfollowed(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        if (!IsDetectedFile(path, file.get()) || !UserFoldersUnlinked(path, userFolders)) {
            return RemoveFileResult::Failed;
        }
        if (file && DeleteByHandle(file.get())) {
            file.reset();
            ++statistics.removedFiles;
            return RemoveFileResult::Done;
        }
        file.reset();
        // A deferred deletion is resolved again at the next start: only for
        // paths without links. A refused delayed move schedules nothing.
        if (!PathUnlinked(path) || !MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            return RemoveFileResult::Failed;
        }
    } else {
        SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(W(path))) {
            ++statistics.removedFiles;
            return RemoveFileResult::Done;
        }
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
    // Made before redirection goes off: making them loads libraries.
    CProcessApi::GetInstance();
    const std::vector<std::u16string> userFolders = UserWritableFolders();
    CFsRedirectionOff redirection;
    if (IsMissingOrDirectory(from)) return RenameFileResult::NothingDone;
    if (!Accessible(from)) {
        // Without asking, the shell would replace an existing destination.
        if (IsMissingOrDirectory(to)) ShellOperation(redirection, FO_RENAME, kShellFlags, from, to);
        return RenameFileResult::HandedToShell;
    }
    if (!IsDetectedFile(from) || !UserFoldersUnlinked(from, userFolders) || !UserFoldersUnlinked(to, userFolders)) {
        return RenameFileResult::NothingDone;
    }
    SetFileAttributesW(W(from), FILE_ATTRIBUTE_NORMAL);
    ScanStatistics& statistics = controller.GetStatistics();
    if (MoveFileW(W(from), W(to))) {
        ++statistics.renamedFiles;
        return RenameFileResult::Done;
    }
    if (!IsWindows9xFamily()) {
        if (!PathUnlinked(from) || !PathUnlinked(to) || !MoveFileExW(W(from), W(to), MOVEFILE_DELAY_UNTIL_REBOOT)) {
            return RenameFileResult::NothingDone;
        }
    } else {
        if (!WideToAnsi(from) || !WideToAnsi(to)) return RenameFileResult::NothingDone;
        if (AddToWininit(to, from) != WininitResult::Written) return RenameFileResult::NothingDone;
    }
    SetRebootRequired();
    ++statistics.renamedFiles;
    return RenameFileResult::Done;
}
