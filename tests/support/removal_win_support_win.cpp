#include "support/removal_win_support.h"

#include <cstdio>
#include <vector>

#include "support/builtin_support.h"
#include "scanner/process_api_win.h"

CRemovalSession::CRemovalSession() {
    controller_ = std::make_unique<CScanController>(output_, host_, CreateBuiltinRemovers(),
                                                    std::vector<std::unique_ptr<CScanner>>());
}

CRemovalSession::~CRemovalSession() = default;

namespace {

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

CScratchFolder::CScratchFolder() {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring root(temp, n);
    root += L"tesmora-removal-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
    CreateDirectoryW(root.c_str(), nullptr);
    root_.assign(root.begin(), root.end());
}

CScratchFolder::~CScratchFolder() { RemoveTree(std::wstring(root_.begin(), root_.end())); }

std::u16string CScratchFolder::Path(const char16_t* name) const { return root_ + u"\\" + name; }

bool WriteBytes(const std::u16string& path, const std::string& bytes) {
    std::FILE* f = _wfopen(W(path), L"wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string ReadBytes(const std::u16string& path) {
    std::FILE* f = _wfopen(W(path), L"rb");
    if (f == nullptr) return "<missing>";
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    std::fclose(f);
    return out;
}
