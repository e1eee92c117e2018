#include "support/e2e_win_support.h"

#include "support/builtin_support.h"
#include "support/pe_fixture.h"
#include "scan/scan_phases_win.h"

std::u16string U16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

std::wstring WinDir() {
    wchar_t b[MAX_PATH] = {};
    GetWindowsDirectoryW(b, MAX_PATH);
    return b;
}

std::wstring SysDir() {
    wchar_t b[MAX_PATH] = {};
    GetSystemDirectoryW(b, MAX_PATH);
    return b;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Write(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    return WriteBytes(std::string(path.begin(), path.end()), bytes);
}

std::vector<uint8_t> Read(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return bytes;
    bytes.resize(GetFileSize(f.get(), nullptr));
    DWORD n = 0;
    if (!bytes.empty()) ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    bytes.resize(n);
    return bytes;
}

std::string ReadText(const std::wstring& path) {
    const std::vector<uint8_t> b = Read(path);
    return std::string(b.begin(), b.end());
}

bool WriteText(const std::wstring& path, const std::string& text) {
    return Write(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool SetSz(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& data) {
    UniqueKey key;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
    UniqueKey key;
    if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool HasValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    UniqueKey key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD GetDword(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    UniqueKey key;
    DWORD value = 0xFFFFFFFF, size = sizeof value;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return value;
    RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

Sleeper::Sleeper(const std::wstring& path) {
    std::wstring command = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
        WaitForInputIdle(info.hProcess, 2000);
        Sleep(300);  // let the loader finish before the process is walked
    }
}

Sleeper::~Sleeper() {
    if (!process_) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
}

ScanRun::ScanRun(CScanHost& host) : controller(output, host, CreateBuiltinRemovers(), CreateScanPhases()) {}

int32_t ScanRun::Run() {
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(L"D:\\");
    DriveListNode drive{u"D:", nullptr};
    int32_t result = -100;
    if (controller.StartScan(nullptr, nullptr, &drive)) result = controller.WaitForScan();
    SetCurrentDirectoryW(previous);
    return result;
}

std::u16string ReplaceAll(std::u16string text, std::u16string_view key, std::u16string_view value) {
    for (std::size_t at = text.find(key); at != std::u16string::npos; at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}
