// tesmora-app-driver: starts tesmora.exe, waits for its window to reach the
// idle state after the scan that a drive letter starts, checks the buttons and
// the layout (every control inside the client area, no two buttons overlapping,
// each button's text within its width), saves the window as a bitmap, presses
// Exit and prints the exit code.
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

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c >= 0x20 && c < 0x7F && c != L'"' ? static_cast<char>(c) : '?';
    return out;
}

bool Overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

struct Control {
    HWND window;
    RECT rect;  // in the dialog's client coordinates
    bool button;
};

// Prints the system DPI, the dialog's window and client rectangles and every
// visible child control's rectangle, and one "layout fault:" line when the
// window reaches outside the screen, for each control that lies (partly)
// outside the client area, each pair of buttons that
// overlap and each button whose text is wider than its client area less its
// edges. True when there is no fault.
bool CheckLayout(HWND dialog) {
    HDC screenDc = GetDC(nullptr);
    std::printf("dpi: %d\n", GetDeviceCaps(screenDc, LOGPIXELSY));
    ReleaseDC(nullptr, screenDc);
    int faults = 0;
    RECT window, screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    GetWindowRect(dialog, &window);
    std::printf("window: %ld %ld %ld %ld on a screen of %ld x %ld\n", window.left, window.top, window.right,
                window.bottom, screen.right, screen.bottom);
    if (window.left < 0 || window.top < 0 || window.right > screen.right || window.bottom > screen.bottom) {
        std::printf("layout fault: the window reaches outside the screen\n");
        ++faults;
    }
    RECT client;
    GetClientRect(dialog, &client);
    std::printf("client: %ld %ld %ld %ld\n", client.left, client.top, client.right, client.bottom);
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        wchar_t className[64] = L"";
        GetClassNameW(child, className, 64);
        const LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        const bool button = lstrcmpiW(className, L"Button") == 0 && type != BS_GROUPBOX;
        wchar_t text[256] = L"";
        GetWindowTextW(child, text, 256);
        const int id = GetDlgCtrlID(child);
        std::printf("control %d %s \"%s\": %ld %ld %ld %ld\n", id, Narrow(className).c_str(), Narrow(text).c_str(),
                    r.left, r.top, r.right, r.bottom);
        if (r.left < client.left || r.top < client.top || r.right > client.right || r.bottom > client.bottom) {
            std::printf("layout fault: control %d reaches outside the client area\n", id);
            ++faults;
        }
        if (button && text[0] != L'\0') {
            // The text as drawn: "&" marks the mnemonic, "&&" is one "&".
            std::wstring shown;
            for (const wchar_t* c = text; *c != L'\0'; ++c) {
                if (*c == L'&' && *++c == L'\0') break;
                shown += *c;
            }
            // The button's font; where another process cannot be told it,
            // the dialog's own (8-point MS Sans Serif) at the screen's DPI.
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
            HDC dc = GetDC(child);
            HFONT made = nullptr;
            if (font == nullptr)
                font = made = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                          FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
            HGDIOBJ old = SelectObject(dc, font);
            SIZE extent{};
            GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
            SelectObject(dc, old);
            if (made != nullptr) DeleteObject(made);
            ReleaseDC(child, dc);
            RECT inside;
            GetClientRect(child, &inside);
            const int room = inside.right - inside.left - 2 * GetSystemMetrics(SM_CXEDGE);
            std::printf("  text %ld of %d pixels\n", extent.cx, room);
            if (extent.cx > room) {
                std::printf("layout fault: the text of button %d is wider than the button\n", id);
                ++faults;
            }
        }
        for (const Control& other : controls) {
            if (button && other.button && Overlap(r, other.rect)) {
                std::printf("layout fault: buttons %d and %d overlap\n", GetDlgCtrlID(other.window), id);
                ++faults;
            }
        }
        controls.push_back({child, r, button});
    }
    std::printf("layout: %d controls, %d faults\n", static_cast<int>(controls.size()), faults);
    return faults == 0 && !controls.empty();
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
    // Rectangles, text extents and the screenshot in the screen's own pixels,
    // as the program (DPI aware through its manifest) lays itself out.
    using SetAwareFunction = BOOL(WINAPI*)();
    if (auto setAware = reinterpret_cast<SetAwareFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDPIAware"))))
        setAware();
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
    const bool laidOut = CheckLayout(window);
    const bool saved = SaveWindowBitmap(window, argv[1]);
    std::printf("screenshot: %s\n", saved ? "saved" : "failed");
    SendMessageW(GetDlgItem(window, 1005), BM_CLICK, 0, 0);
    if (!PrintExitCode(process.hProcess, 60000)) return 5;
    return idle.start && !idle.stop && idle.exit && laidOut && saved ? 0 : 1;
}
