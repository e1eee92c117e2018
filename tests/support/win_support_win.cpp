#include "support/win_support.h"

#include <cstdlib>

std::string RequestedVersion() {
    const char* v = std::getenv("WINE_RUN_VERSION");
    return v != nullptr ? v : "default";
}

std::string PrefixArch() {
    const char* a = std::getenv("WINE_RUN_ARCH");
    return a != nullptr ? a : "";
}

bool FillDrive(const std::wstring& filler, uint64_t leave) {
    uint64_t budget = UINT64_MAX;
    if (leave != 0) {
        ULARGE_INTEGER available{}, total{}, free{};
        const std::wstring folder = filler.substr(0, filler.find_last_of(L'\\') + 1);
        if (!GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free)) return false;
        budget = available.QuadPart > leave ? (available.QuadPart - leave) / 4096 * 4096 : 0;
    }
    UniqueHandle file(CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    const std::string block(4096, 'f');
    DWORD written = 0;
    for (uint64_t at = 0; at < budget; at += written) {
        if (!WriteFile(file.get(), block.data(), 4096, &written, nullptr) || written != 4096) break;
    }
    return true;
}

std::wstring HostPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != 0; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
    return path;
}

std::wstring ChildProcess::ExePath() { return HostPath(TESMORA_TEST_CHILD_EXE); }

ChildProcess::ChildProcess(DWORD ms) : ChildProcess(ExePath(), ms) {}

ChildProcess::ChildProcess(const std::wstring& exe, DWORD ms) {
    std::wstring command = L"\"" + exe + L"\" " + std::to_wstring(ms);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine now and then refuses a start when many processes come at once
    // (seen with 70 children in one test): a few more tries.
    bool created = false;
    for (int attempt = 0; attempt < 4 && !created; ++attempt) {
        if (attempt != 0) Sleep(250);
        created = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info) != FALSE;
    }
    if (created) {
        CloseHandle(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
        // Let the loader map the modules before anyone walks them.
        WaitForInputIdle(info.hProcess, 2000);
        Sleep(200);
    }
}

ChildProcess::~ChildProcess() { Kill(); }

void ChildProcess::Kill() {
    if (!process_) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
    process_.reset();
}
