// The system functions that the 32-bit Windows programs reach through the
// Unicode layer instead of importing them: the wide functions that Windows
// 95/98/ME export only as failing stubs, and the security and delayed-move
// functions that exist there only as stubs as well.
//   X(DLL, NAME, ARGUMENT_BYTES, KIND)
// KIND: Wide (from unicows.dll on 9x/ME, else the system DLL) or System
// (always the system DLL; on 9x/ME its stub, where the program never calls it).
#pragma once

#define TESMORA_UNICODE_LAYER_FUNCTIONS(X)            \
    X(ADVAPI32, AdjustTokenPrivileges, 24, System)    \
    X(ADVAPI32, AllocateAndInitializeSid, 44, System) \
    X(ADVAPI32, FreeSid, 4, System)                   \
    X(ADVAPI32, GetUserNameW, 8, Wide)                \
    X(ADVAPI32, LookupPrivilegeValueW, 12, System)    \
    X(ADVAPI32, OpenProcessToken, 12, System)         \
    X(ADVAPI32, RegCreateKeyExW, 36, Wide)            \
    X(ADVAPI32, RegDeleteKeyW, 8, Wide)               \
    X(ADVAPI32, RegDeleteValueW, 8, Wide)             \
    X(ADVAPI32, RegEnumKeyExW, 32, Wide)              \
    X(ADVAPI32, RegEnumValueW, 32, Wide)              \
    X(ADVAPI32, RegOpenKeyExW, 20, Wide)              \
    X(ADVAPI32, RegQueryInfoKeyW, 48, Wide)           \
    X(ADVAPI32, RegQueryValueExW, 24, Wide)           \
    X(ADVAPI32, RegSetValueExW, 24, Wide)             \
    X(GDI32, CreateFontW, 56, Wide)                   \
    X(KERNEL32, CreateDirectoryW, 8, Wide)            \
    X(KERNEL32, CreateFileW, 28, Wide)                \
    X(KERNEL32, CreateMutexW, 12, Wide)               \
    X(KERNEL32, CreateSemaphoreW, 16, Wide)           \
    X(KERNEL32, DeleteFileW, 4, Wide)                 \
    X(KERNEL32, FindFirstFileW, 8, Wide)              \
    X(KERNEL32, FindNextFileW, 8, Wide)               \
    X(KERNEL32, GetDriveTypeW, 4, Wide)               \
    X(KERNEL32, GetFileAttributesW, 4, Wide)          \
    X(KERNEL32, GetLogicalDriveStringsW, 8, Wide)     \
    X(KERNEL32, GetModuleFileNameW, 12, Wide)         \
    X(KERNEL32, GetModuleHandleW, 4, Wide)            \
    X(KERNEL32, GetPrivateProfileSectionNamesW, 12, Wide) \
    X(KERNEL32, GetPrivateProfileSectionW, 16, Wide)  \
    X(KERNEL32, GetStartupInfoW, 4, Wide)             \
    X(KERNEL32, GetSystemDirectoryW, 8, Wide)         \
    X(KERNEL32, GetTempPathW, 8, Wide)                \
    X(KERNEL32, GetVersionExW, 4, Wide)               \
    X(KERNEL32, GetWindowsDirectoryW, 8, Wide)        \
    X(KERNEL32, LoadLibraryW, 4, Wide)                \
    X(KERNEL32, MoveFileExW, 12, System)              \
    X(KERNEL32, MoveFileW, 8, Wide)                   \
    X(KERNEL32, RemoveDirectoryW, 4, Wide)            \
    X(KERNEL32, SetFileAttributesW, 8, Wide)          \
    X(KERNEL32, WritePrivateProfileStringW, 16, Wide) \
    X(USER32, CreateDialogParamW, 20, Wide)           \
    X(USER32, CreateWindowExW, 48, Wide)              \
    X(USER32, DialogBoxParamW, 20, Wide)              \
    X(USER32, DispatchMessageW, 4, Wide)              \
    X(USER32, GetMessageW, 16, Wide)                  \
    X(USER32, GetWindowLongW, 8, Wide)                \
    X(USER32, IsDialogMessageW, 8, Wide)              \
    X(USER32, LoadIconW, 8, Wide)                     \
    X(USER32, PostMessageW, 16, Wide)                 \
    X(USER32, SendDlgItemMessageW, 20, Wide)          \
    X(USER32, SendMessageW, 16, Wide)                 \
    X(USER32, SetDlgItemTextW, 12, Wide)              \
    X(USER32, SetWindowLongW, 12, Wide)               \
    X(USER32, SetWindowTextW, 8, Wide)
