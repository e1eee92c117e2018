// tesmora-app-driver: starts tesmora.exe, waits for its window to reach the
// idle state after the scan that a drive letter starts, checks the buttons,
// saves the window as a bitmap, presses Exit and prints the exit code.
//   tesmora-app-driver OUT.bmp TESMORA.exe [ARGS]...
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool SaveWindowBitmap(HWND window, const wchar_t* path) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD size = static_cast<DWORD>(((w * 3 + 3) & ~3) * h);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof header + size), 0, 0,
                          sizeof(BITMAPFILEHEADER) + sizeof header};
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &file, sizeof file, &written, nullptr) &&
                    WriteFile(out, &header, sizeof header, &written, nullptr) &&
                    WriteFile(out, bits, size, &written, nullptr);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

struct Buttons {
    bool start, stop, exit;
};

Buttons State(HWND window) {
    return {IsWindowEnabled(GetDlgItem(window, 1000)) != FALSE, IsWindowEnabled(GetDlgItem(window, 1001)) != FALSE,
            IsWindowEnabled(GetDlgItem(window, 1005)) != FALSE};
}

// Starts argv[2] with the arguments after it.
bool StartProgram(int argc, wchar_t** argv, PROCESS_INFORMATION& process) {
    std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
    for (int i = 3; i < argc; ++i) command += L" " + std::wstring(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) !=
           FALSE;
}

// Waits up to `ms` for the program to end and prints its exit code.
bool PrintExitCode(HANDLE process, DWORD ms) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    std::printf("exit code: %d\n", static_cast<int>(code));
    std::fflush(stdout);
    return true;
}

// Waits, polling, until the window is visible and Stop is enabled: a scan runs.
HWND WaitForRunningScan() {
    for (int i = 0; i < 3000; ++i) {
        HWND window = FindWindowW(nullptr, L"Tesmora Removal Tool - Zelox GmbH");
        if (window != nullptr && IsWindowVisible(window) && State(window).stop) return window;
        Sleep(20);
    }
    return nullptr;
}

// --stop|--exit TESMORA.exe [ARGS]...: presses Stop (or Exit) while a scan
// runs; after Stop waits for the idle button state and then presses Exit;
// prints the button states and the program's exit code.
int Interrupt(bool exitButton, int argc, wchar_t** argv) {
    PROCESS_INFORMATION process{};
    if (!StartProgram(argc, argv, process)) return 3;
    HWND window = WaitForRunningScan();
    if (window == nullptr) return 4;
    SendMessageW(GetDlgItem(window, exitButton ? 1005 : 1001), BM_CLICK, 0, 0);
    const Buttons grey = State(window);
    std::printf("after click: start=%d stop=%d exit=%d\n", grey.start, grey.stop, grey.exit);
    if (exitButton) {
        return PrintExitCode(process.hProcess, 300000) ? 0 : 5;
    }
    bool idle = false;
    for (int i = 0; i < 15000 && !idle; ++i) {
        Sleep(20);
        const Buttons b = State(window);
        idle = b.start && !b.stop && b.exit;
    }
    std::printf("idle: %d\n", idle);
    SendMessageW(GetDlgItem(window, 1005), BM_CLICK, 0, 0);
    if (!PrintExitCode(process.hProcess, 60000)) return 5;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    if (std::wstring(argv[1]) == L"--stop" || std::wstring(argv[1]) == L"--exit")
        return Interrupt(std::wstring(argv[1]) == L"--exit", argc, argv);
    PROCESS_INFORMATION process{};
    if (!StartProgram(argc, argv, process)) return 3;
    HWND window = nullptr;
    // Idle after the scan: Start and Exit enabled, Stop disabled.
    for (int i = 0; i < 1200; ++i) {
        Sleep(100);
        if (window == nullptr) window = FindWindowW(nullptr, L"Tesmora Removal Tool - Zelox GmbH");
        if (window == nullptr || !IsWindowVisible(window)) continue;
        const Buttons b = State(window);
        if (b.start && !b.stop && b.exit) break;
    }
    if (window == nullptr) return 4;
    Sleep(500);
    const Buttons idle = State(window);
    std::printf("idle: start=%d stop=%d exit=%d\n", idle.start, idle.stop, idle.exit);
    const bool saved = SaveWindowBitmap(window, argv[1]);
    std::printf("screenshot: %s\n", saved ? "saved" : "failed");
    SendMessageW(GetDlgItem(window, 1005), BM_CLICK, 0, 0);
    if (!PrintExitCode(process.hProcess, 60000)) return 5;
    return idle.start && !idle.stop && idle.exit && saved ? 0 : 1;
}
