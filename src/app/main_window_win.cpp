#include "app/main_window_win.h"

#include <commctrl.h>
#include <richedit.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/bind_win.h"
#include "common/string_table.h"
#include "common/text16.h"
#include "quarantine/quarantine_win.h"
#include "removal/reboot_flag.h"
#include "report/report_file_win.h"
#include "scan/report.h"
#include "scan/scan_phases_win.h"

namespace {

constexpr int kPane = 1003, kStart = 1000, kStop = 1001, kExit = 1005, kStatusLine = 1004, kStatusGroup = 1006;
constexpr int kNoAdminText = 1008;
constexpr UINT kClockTimer = 100;
constexpr UINT kStatusBarId = 0xE801;
// Posted by the scan thread when a scan that ran to its end has printed its report.
constexpr UINT WM_SCAN_ENDED = WM_APP + 1;

constexpr COLORREF kBlack = RGB(0, 0, 0), kDarkRed = RGB(180, 0, 0), kGrey = RGB(80, 80, 80), kRed = RGB(255, 0, 0);

// Set by the Exit button (and by closing the window).
std::atomic<bool> exitPending{false};

std::wstring W(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

std::u16string GetFileVersionText() {
    // Bound at run time from the system folder: a version.dll beside the
    // program is never loaded.
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    UniqueLibrary library(LoadSystemLibrary(L"version.dll"));
    const auto GetFileVersionInfoSizeW = BindFunction<SizeFn>(library.get(), "GetFileVersionInfoSizeW");
    const auto GetFileVersionInfoW = BindFunction<InfoFn>(library.get(), "GetFileVersionInfoW");
    const auto VerQueryValueW = BindFunction<QueryFn>(library.get(), "VerQueryValueW");
    if (!GetFileVersionInfoSizeW || !GetFileVersionInfoW || !VerQueryValueW) return {};
    wchar_t path[260];
    if (GetModuleFileNameW(nullptr, path, 260) == 0) return {};
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
    wchar_t key[128];
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) && length == 4) {
        const BYTE* t = static_cast<const BYTE*>(value);  // language, then code page, little-endian words
        _snwprintf(key, 128, L"\\StringFileInfo\\%02X%02X%02X%02X\\", t[1], t[0], t[3], t[2]);
    } else {
        _snwprintf(key, 128, L"\\StringFileInfo\\%04X04B0\\", GetUserDefaultLangID());
    }
    key[127] = 0;
    std::wstring name = key;
    name += L"FileVersion";
    if (!VerQueryValueW(block.data(), name.c_str(), &value, &length) || length == 0) return {};
    return VersionTextFromResource(U(static_cast<const wchar_t*>(value)));
}

template <typename Function>
Function Bind(HMODULE module, const char* name) {
    return BindFunction<Function>(module, name);
}

LocalTime Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// Windows 9x/ME reboot without privileges (their token functions are only
// stubs there); the NT family needs SeShutdownPrivilege enabled first.
bool MayShutDown() {
    if ((GetVersion() & 0x80000000u) != 0) return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool enabled = LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                         GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}

void RebootSystem(HWND owner) {
    if (MayShutDown() && ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) return;
    MessageBoxW(owner, W(LoadText(IDS_REBOOT_FAILED)), W(LoadText(IDS_WINDOW_TITLE)), MB_OK);
}

// CNoAdminRightsDlg: template 150 with the error icon and the red text 25.
class CNoAdminRightsDlg {
public:
    void DoModal(HWND owner) {
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(150), owner, Proc, reinterpret_cast<LPARAM>(this));
        if (font_ != nullptr) DeleteObject(font_);
        if (brush_ != nullptr) DeleteObject(brush_);
    }

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CNoAdminRightsDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (message) {
        case WM_INITDIALOG: {
            self = reinterpret_cast<CNoAdminRightsDlg*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            RECT client;
            GetClientRect(dialog, &client);
            const int half = (client.bottom - client.top) / 2;
            self->iconControl_ = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON | SS_CENTERIMAGE,
                                                 10, half - 35, 40, 40, dialog, reinterpret_cast<HMENU>(0xFFFF),
                                                 GetModuleHandleW(nullptr), nullptr);
            self->icon_ = LoadIconW(nullptr, IDI_ERROR);
            SendMessageW(self->iconControl_, STM_SETICON, reinterpret_cast<WPARAM>(self->icon_), 0);
            SetWindowTextW(dialog, W(LoadText(IDS_NO_ADMIN_TITLE)));
            HDC dc = GetDC(dialog);
            const int height = -MulDiv(12, GetDeviceCaps(dc, LOGPIXELSY), 72);
            ReleaseDC(dialog, dc);
            self->font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                      L"Microsoft Sans Serif");
            self->brush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
            SendDlgItemMessageW(dialog, kNoAdminText, WM_SETFONT, reinterpret_cast<WPARAM>(self->font_), TRUE);
            SetDlgItemTextW(dialog, kNoAdminText, W(LoadText(IDS_ADMIN_RIGHTS_REQUIRED)));
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
            if (self != nullptr && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kNoAdminText) {
                SetTextColor(reinterpret_cast<HDC>(wParam), kRed);
                SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
                return reinterpret_cast<INT_PTR>(self->brush_);
            }
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
            return TRUE;  // a click on the text does nothing
        }
        return FALSE;
    }

    HWND iconControl_ = nullptr;
    HICON icon_ = nullptr;
    HBRUSH brush_ = nullptr;
    HFONT font_ = nullptr;
};

}  // namespace

bool CanWriteLogFile(std::u16string_view name) {
    const std::wstring path = W(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        DeleteFileW(path.c_str());
        return true;
    }
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

std::u16string ProgramName() {
    wchar_t path[260];
    const DWORD length = GetModuleFileNameW(nullptr, path, 260);
    std::u16string name = U(length > 0 && length < 260 ? path : L"tesmora");
    const std::size_t slash = name.find_last_of(u"\\/:");
    if (slash != std::u16string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.erase(dot);
    return name;
}

bool IsSilentCommandLine() {
    bool help = false;
    return ParseCommandLine(U(GetCommandLineW()), u"", help, [](std::u16string_view) { return true; }).silent;
}

CRemovalToolDlg::CRemovalToolDlg(CScanHost& host)
    : host_(host), icon_(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(155))) {}

CRemovalToolDlg::~CRemovalToolDlg() = default;

int CRemovalToolDlg::Run() {
    window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(102), nullptr, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) return -1;
    MSG message;
    while (!ended_ && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window_ == nullptr || !IsDialogMessageW(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return exitCode_;
}

INT_PTR CALLBACK CRemovalToolDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CRemovalToolDlg*>(lParam);
        self->window_ = window;
        self->OnInitDialog();
        return FALSE;  // focus set by the initialisation
    }
    auto* self = reinterpret_cast<CRemovalToolDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CRemovalToolDlg::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (IsIconic(window_)) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            RECT r;
            GetClientRect(window_, &r);
            DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2, (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
                     icon_);
            EndPaint(window_, &paint);
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon_));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kStart:
            if (IsWindowEnabled(start_)) OnStartScan();
            return TRUE;
        case kStop:
            if (IsWindowEnabled(stop_)) OnStopScan();
            return TRUE;
        case kExit:
            if (IsWindowEnabled(exit_)) OnExit();
            return TRUE;
        case IDCANCEL:  // Escape and the system close command act like Exit
            if (!exitPending.load()) OnExit();
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        if (!exitPending.load()) OnExit();
        return TRUE;
    case WM_SCAN_RESULT:
        ScanFinished(static_cast<ScanResultCode>(static_cast<int32_t>(wParam)));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_SCAN_ENDED:
        AfterScan();
        return TRUE;
    case WM_TIMER:
        if (wParam == kClockTimer) {
            SYSTEMTIME t;
            GetLocalTime(&t);
            wchar_t clock[16];
            _snwprintf(clock, 16, L"%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
            clock[15] = 0;
            SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(clock));
        }
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == kPane && header->code == EN_MSGFILTER) {
            // The pane's mouse input waits while text goes in.
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, outputBusy_.load() ? 1 : 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

void CRemovalToolDlg::OnInitDialog() {
    startTime_ = CurrentUtcTime();
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kStatusBarId)),
                                 GetModuleHandleW(nullptr), nullptr);
    RECT client;
    GetClientRect(window_, &client);
    int parts[2] = {client.right - client.left - 100, -1};
    SendMessageW(statusBar_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L""));
    SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L""));
    SetTimer(window_, kClockTimer, 1000, nullptr);

    scanStarted_ = false;
    exitCode_ = 0;
    helpPrinted_ = false;
    firstScan_ = true;
    pane_ = GetDlgItem(window_, kPane);
    if (pane_ != nullptr) {
        const LRESULT mask = SendMessageW(pane_, EM_GETEVENTMASK, 0, 0);
        SendMessageW(pane_, EM_SETEVENTMASK, 0, mask | ENM_MOUSEEVENTS);
    }
    drives_.reset();

    const char16_t* title = LoadText(IDS_WINDOW_TITLE);
    SetWindowTextW(window_, *title != 0 ? W(title) : L"Removal Tool");

    stop_ = GetDlgItem(window_, kStop);
    start_ = GetDlgItem(window_, kStart);
    exit_ = GetDlgItem(window_, kExit);
    statusLine_ = GetDlgItem(window_, kStatusLine);
    if (stop_ == nullptr || start_ == nullptr || exit_ == nullptr || statusLine_ == nullptr || pane_ == nullptr) {
        EndWindow(-1);
        return;
    }
    EnableWindow(stop_, FALSE);
    SetWindowTextW(start_, W(LoadText(IDS_START_SCAN)));
    SetWindowTextW(stop_, W(LoadText(IDS_STOP_SCAN)));
    SetWindowTextW(exit_, W(LoadText(IDS_EXIT)));
    SetDlgItemTextW(window_, kStatusGroup, W(LoadText(IDS_SCANNING_GROUP)));

    controller_ = std::make_unique<CScanController>(*this, host_, TakeBuiltinRemovers(), CreateScanPhases());
    if (controller_->ConstructionResult() != 0) {
        const int code = controller_->ConstructionResult();
        controller_.reset();
        EndWindow(code);
        return;
    }
    controller_->SetAppend(false);
    controller_->SetLogEnabled(false);
    controller_->SetSilent(false);
    quarantine_ = std::make_unique<CWindowsQuarantine>();
    controller_->SetQuarantine(quarantine_.get());

    programName_ = ProgramName();
    productLine_ = LoadText(IDS_PRODUCT_LINE);
    versionLine_ = Format16(LoadText(IDS_VERSION_LINE), {GetFileVersionText(), BuildDateText(__DATE__), AsciiToUtf16(__TIME__)});
    lineBreak_ = LoadText(IDS_LINE_BREAK);
    hint_ = LoadText(IDS_OPTIONS_HINT);
    familiesLine_ = LoadText(IDS_FAMILIES_LINE) + controller_->GetMalwareNames();

    PrintCommandLine();
    PrintHostLine();

    const bool silent = controller_->IsSilent();
    if (silent) {
        OnStartScan();
    } else {
        ShowWindow(window_, SW_SHOW);
        SetFocus(IsWindowEnabled(start_) ? start_ : exit_);
    }
    if (exitCode_ == -2) {
        if (silent) {
            Print(LoadText(IDS_ADMIN_RIGHTS_REQUIRED), 0);  // the log tells instead of the dialog
        } else {
            CNoAdminRightsDlg().DoModal(window_);
        }
    }
    outputBusy_.store(false);
    if (drives_ != nullptr && !scanStarted_) OnStartScan();
}

void CRemovalToolDlg::Insert(std::u16string_view text, const bool* bold, const COLORREF* color) {
    outputBusy_.store(true);
    const std::wstring w = W(text);
    GETTEXTLENGTHEX length{GTL_NUMCHARS, 1200};
    const LRESULT end = SendMessageW(pane_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    CHARRANGE caret{static_cast<LONG>(end), static_cast<LONG>(end)};
    SendMessageW(pane_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    CHARFORMATW format{};
    format.cbSize = sizeof format;
    SendMessageW(pane_, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    format.dwMask = CFM_COLOR | CFM_BOLD;
    format.dwEffects &= ~CFE_AUTOCOLOR;
    if (bold != nullptr) format.dwEffects = *bold ? (format.dwEffects | CFE_BOLD) : (format.dwEffects & ~CFE_BOLD);
    if (color != nullptr) format.crTextColor = *color;
    SendMessageW(pane_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    // The code page named explicitly: a pane that is no Unicode window (9x/ME)
    // would read the text of EM_REPLACESEL as ANSI.
    SETTEXTEX insert{ST_SELECTION, 1200};
    SendMessageW(pane_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&insert), reinterpret_cast<LPARAM>(w.c_str()));
    SendMessageW(pane_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    SendMessageW(pane_, WM_VSCROLL, SB_BOTTOM, 0);
    outputBusy_.store(false);
}

void CRemovalToolDlg::Print(std::u16string_view text, int) { Insert(text, nullptr, nullptr); }

void CRemovalToolDlg::PrintHighlighted(std::u16string_view first, const char16_t* second, int) {
    const bool bold = true;
    const COLORREF red = kRed;
    Insert(first, &bold, &red);
    if (second != nullptr) Insert(second, nullptr, nullptr);
}

void CRemovalToolDlg::SetStatusText(std::u16string_view text, int) {
    SetWindowTextW(statusLine_, W(text).c_str());
}

void CRemovalToolDlg::PrintBanner() {
    SETTEXTEX clear{ST_DEFAULT, 1200};
    SendMessageW(pane_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&clear), reinterpret_cast<LPARAM>(L""));
    const bool bold = true;
    Insert(u"Tesm", &bold, &kDarkRed);
    Insert(u"ora ", &bold, &kBlack);
    Insert(productLine_, &bold, &kGrey);
    Insert(lineBreak_, nullptr, nullptr);
    Insert(familiesLine_, &bold, &kBlack);
    Insert(lineBreak_, nullptr, nullptr);
    Insert(versionLine_, nullptr, nullptr);
}

void CRemovalToolDlg::PrintCommandLine() {
    PrintBanner();
    Print(u"\r\n", 0);
    Print(hint_, 0);
    Print(u"\r\n", 0);
    const CommandLineOptions options =
        ::ParseCommandLine(U(GetCommandLineW()), programName_, helpPrinted_, CanWriteLogFile);
    // The access test's message comes after the administrator rule, as the
    // options are read first; its place among the messages is kept.
    for (const CommandLineMessage& m : options.messages) {
        if (m.kind == CommandLineMessage::kText) {
            Print(m.text, 0);
            continue;
        }
        const std::vector<std::u16string> help = HelpBlockTexts(programName_);
        const bool bold = true;
        Insert(help.front(), nullptr, &kBlack);
        for (std::size_t i = 1; i < help.size(); ++i) Insert(help[i], &bold, &kBlack);
    }
    controller_->SetSilent(options.silent);
    controller_->SetAppend(options.append);
    controller_->SetLogEnabled(options.logEnabled);
    controller_->SetLogFileName(options.logFileName);
    controller_->SetScanOnly(options.scanOnly);
    reportFileName_ = options.reportFileName;
    std::unique_ptr<DriveListNode>* tail = &drives_;
    for (const std::u16string& d : options.drives) {
        *tail = std::make_unique<DriveListNode>();
        (*tail)->text = d;
        tail = &(*tail)->next;
    }
    administrator_ = controller_->IsAdministrator();
    if (!administrator_) {
        EnableWindow(start_, FALSE);
        exitCode_ = -2;
        SetFocus(exit_);
    }
}

void CRemovalToolDlg::PrintHostLine() {
    char host[299] = {};
    uint8_t address[4] = {0, 0, 0, 0};
    if (HMODULE sockets = LoadSystemLibrary(L"WS2_32.DLL")) {
        using StartupFn = int(WINAPI*)(WORD, void*);
        using CleanupFn = int(WINAPI*)();
        using HostNameFn = int(WINAPI*)(char*, int);
        struct HostEnt {
            char* name;
            char** aliases;
            short type, length;
            char** addresses;
        };
        using ByNameFn = HostEnt*(WINAPI*)(const char*);
        auto byName = Bind<ByNameFn>(sockets, "gethostbyname");
        auto hostName = Bind<HostNameFn>(sockets, "gethostname");
        auto startup = Bind<StartupFn>(sockets, "WSAStartup");
        auto cleanup = Bind<CleanupFn>(sockets, "WSACleanup");
        if (byName != nullptr && hostName != nullptr && startup != nullptr && cleanup != nullptr) {
            // WSADATA begins with the requested and the highest version.
            alignas(8) unsigned char data[1024] = {};
            int started = 0;
            if (startup(MAKEWORD(1, 0), data) == 0) ++started;
            WORD highest = 0;
            std::memcpy(&highest, data + 2, sizeof highest);
            if (startup(highest, data) == 0) {
                ++started;
                if (hostName(host, sizeof host - 1) == 0) {
                    const HostEnt* entry = byName(host);
                    if (entry != nullptr && entry->addresses != nullptr && entry->addresses[0] != nullptr) {
                        std::memcpy(address, entry->addresses[0], 4);
                    }
                } else {
                    host[0] = 0;
                }
            }
            while (started-- > 0) cleanup();
        }
        FreeLibrary(sockets);
    }
    host[sizeof host - 1] = 0;
    wchar_t wide[300] = {};
    MultiByteToWideChar(CP_ACP, 0, host, -1, wide, 300);
    hostName_ = U(wide);
    Print(HostLineText(hostName_, address), 0);
}

void CRemovalToolDlg::PrintReport() {
    const auto lines = FormatReportLines(controller_->GetStatistics());
    for (const auto& line : lines) Print(line, 0);
}

void CRemovalToolDlg::OnStartScan() {
    EnableWindow(start_, FALSE);
    EnableWindow(stop_, TRUE);
    if (controller_->IsSilent()) ShowWindow(window_, SW_HIDE);
    if (!firstScan_) {
        Print(u"\r\n", 0);
        Print(u"\r\n", 0);
    }
    void* const handle = window_;
    controller_->StartScan(pathBuffer_, &handle, drives_.get());
    firstScan_ = false;
    SetFocus(stop_);
    scanStarted_ = true;
}

void CRemovalToolDlg::OnStopScan() {
    EnableWindow(stop_, FALSE);
    EnableWindow(exit_, FALSE);
    EnableWindow(start_, FALSE);
    controller_->RequestStop();
    SetFocus(exit_);
}

void CRemovalToolDlg::OnExit() {
    exitPending.store(true);
    EnableWindow(stop_, FALSE);
    EnableWindow(exit_, FALSE);
    EnableWindow(start_, FALSE);
    if (controller_ != nullptr && controller_->IsRunning()) {
        controller_->RequestStop();
        return;  // the program ends when the scan has ended
    }
    Ending();
}

void CRemovalToolDlg::ScanFinished(ScanResultCode code) {
    lastResult_ = code;
    const std::u16string text = ResultText(code, controller_->IsScanOnly());
    if (!text.empty()) Print(text, 0);
    PrintReport();
    const ScanStatistics& s = controller_->GetStatistics();
    if (s.infectedFiles != 0 || s.infectedProcesses != 0 || code == kScanMalwareRemoved) malwareFound_ = true;
    if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) {
        AfterScan();
    } else {
        PostMessageW(window_, WM_SCAN_ENDED, 0, 0);  // the rest runs on the window's thread
    }
}

void CRemovalToolDlg::AfterScan() {
    controller_->WaitForScan();
    if (exitPending.load() || controller_->IsSilent()) {
        Ending();
        return;
    }
    EnableWindow(start_, administrator_ ? TRUE : FALSE);
    EnableWindow(exit_, TRUE);
    EnableWindow(stop_, FALSE);
    SetFocus(exit_);
}

void CRemovalToolDlg::Ending() {
    if (ended_) return;
    const bool silent = controller_ != nullptr && controller_->IsSilent();
    if (silent && IsRebootRequired()) Print(LoadText(IDS_REBOOT_PENDING), 0);  // nobody to ask
    const int32_t exitCode = ProgramExitCode({administrator_, scanStarted_, lastResult_, malwareFound_});
    // Before the log, which then tells when the report could not be written.
    if (!reportFileName_.empty() && !WriteReport(exitCode)) {
        Print(Format16(LoadText(IDS_REPORT_WRITE_FAILED), {reportFileName_}), 0);
    }
    if (controller_ != nullptr && controller_->IsLogEnabled() && controller_->GetLogFileName()) {
        WriteLogFile(*controller_->GetLogFileName());
    }
    if (!silent && IsRebootRequired() &&
        MessageBoxW(window_, W(LoadText(IDS_REBOOT_QUESTION)), W(LoadText(IDS_WINDOW_TITLE)), MB_YESNO) == IDYES) {
        RebootSystem(window_);
    }
    drives_.reset();
    controller_.reset();
    EndWindow(exitCode);
}

bool CRemovalToolDlg::WriteReport(int32_t exitCode) {
    RunFacts run;
    run.programVersion = GetFileVersionText();
    run.hostName = hostName_;
    run.start = startTime_;
    run.end = CurrentUtcTime();
    run.commandLine = U(GetCommandLineW());
    run.windows = QueryWindowsFacts();
    run.administrator = administrator_;
    run.scanStarted = scanStarted_;
    run.exitCode = exitCode;
    run.rebootRequired = IsRebootRequired();
    static const CDetectionJournal kNothing;
    const CDetectionJournal* journal = &kNothing;
    if (controller_ != nullptr) {
        run.scanOnly = controller_->IsScanOnly();
        run.counters = controller_->GetStatistics();
        journal = &controller_->Journal();
    }
    run.resultCode = lastResult_;
    run.resultText = ResultText(lastResult_, run.scanOnly);
    while (!run.resultText.empty() && (run.resultText.front() == u'\r' || run.resultText.front() == u'\n')) {
        run.resultText.erase(0, 1);
    }
    while (!run.resultText.empty() && (run.resultText.back() == u'\r' || run.resultText.back() == u'\n')) {
        run.resultText.pop_back();
    }
    return WriteReportFile(reportFileName_, ReportJson(run, *journal));
}

void CRemovalToolDlg::EndWindow(int code) {
    exitCode_ = code;
    ended_ = true;
    KillTimer(window_, kClockTimer);
    DestroyWindow(window_);
    window_ = nullptr;
    PostQuitMessage(code);
}

std::u16string CRemovalToolDlg::PaneText() {
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LRESULT count = SendMessageW(pane_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    if (count <= 0) return {};
    // Room for the final paragraph mark, which some versions leave out of the count.
    std::vector<wchar_t> buffer(static_cast<std::size_t>(count) + 2);
    GETTEXTEX request{};
    request.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    request.flags = GT_DEFAULT;
    request.codepage = 1200;
    const LRESULT got = SendMessageW(pane_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                     reinterpret_cast<LPARAM>(buffer.data()));
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), static_cast<std::size_t>(got > 0 ? got : 0));
}

void CRemovalToolDlg::WriteLogFile(const std::u16string& name) {
    if (!scanStarted_) return;  // an existing log stays untouched
    const std::wstring path = W(name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const bool append = controller_->IsAppend();
    if (append) {
        // A file of odd length (not this program's): one zero byte keeps the
        // appended text on whole UTF-16 units.
        const DWORD end = SetFilePointer(file, 0, nullptr, FILE_END);
        DWORD padded = 0;
        if (end != INVALID_SET_FILE_POINTER && end % 2 == 1) WriteFile(file, "", 1, &padded, nullptr);
    } else {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
    const std::string bytes = Utf16LeBytes(LogText(append, Now(), PaneText()));
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}
