// Helpers of the end-to-end tests under Wine: files, registry values, fixture
// processes, and a whole scan of the running system and drive D:.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "scan/scan_controller.h"
#include "common/handles_win.h"

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::u16string U16(const std::wstring& w);
std::wstring WinDir();
// `text` with every `key` replaced by `value` (a golden transcript's placeholders).
std::u16string ReplaceAll(std::u16string text, std::u16string_view key, std::u16string_view value);
std::wstring SysDir();

bool Exists(const std::wstring& path);
bool Write(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Read(const std::wstring& path);
std::string ReadText(const std::wstring& path);
bool WriteText(const std::wstring& path, const std::string& text);

bool SetSz(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& data);
bool SetDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
bool HasValue(HKEY root, const wchar_t* subkey, const wchar_t* name);
DWORD GetDword(HKEY root, const wchar_t* subkey, const wchar_t* name);  // 0xFFFFFFFF when absent

// The output pane as one text.
class TextOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view a, const char16_t* b, int) override {
        text += std::u16string(a) + (b != nullptr ? b : u"");
    }
    void Print(std::u16string_view t, int) override { text += t; }
    void SetStatusText(std::u16string_view, int) override {}
    void ScanFinished(ScanResultCode code) override { finished = code; }
    std::u16string text;
    int32_t finished = 99;
};

// A fixture process started from `path`, ended when its owner goes away.
class Sleeper {
public:
    explicit Sleeper(const std::wstring& path);
    ~Sleeper();
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
    bool started() const { return static_cast<bool>(process_); }
    bool running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    DWORD id() const { return id_; }

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Runs the registered phases over the running system and drive D:, from
// D:\ (9x/ME gives process images without their folder).
struct ScanRun {
    explicit ScanRun(CScanHost& host);
    int32_t Run();
    TextOutput output;
    CScanController controller;
};
