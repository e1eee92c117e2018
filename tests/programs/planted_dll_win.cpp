// A library planted beside the program under a system library's name: when
// it is loaded, it appends its own file name to the file TESMORA_PLANTED_LOG
// names. It exports nothing, so whatever imports from it fails.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char log[MAX_PATH], name[MAX_PATH];
    if (GetEnvironmentVariableA("TESMORA_PLANTED_LOG", log, MAX_PATH) == 0) return TRUE;
    const DWORD n = GetModuleFileNameA(self, name, MAX_PATH - 2);
    name[n] = '\r';
    name[n + 1] = '\n';
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, name, n + 2, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
