#include "tools/file_walk.h"

#include <windows.h>

#include "common/text16.h"
#include "scanner/readable_file_win.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

class CFindHandle {
public:
    explicit CFindHandle(HANDLE h) : h_(h) {}
    ~CFindHandle() {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

void WalkFolder(const std::wstring& folder, const std::function<void(const std::string&)>& onFile) {
    WIN32_FIND_DATAW entry;
    CFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (find.get() == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // links and junctions
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            WalkFolder(path, onFile);
        } else {
            onFile(Utf8(path));
        }
    } while (FindNextFileW(find.get(), &entry));
}

}  // namespace

WalkResult WalkFiles(const std::string& utf8Path, const std::function<void(const std::string&)>& onFile) {
    std::wstring path = Wide(utf8Path);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return WalkResult::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return WalkResult::Walked;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && path[path.size() - 2] != L':') {
            path.pop_back();
        }
        if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
        WalkFolder(path, onFile);
    } else {
        onFile(utf8Path);
    }
    return WalkResult::Walked;
}

std::unique_ptr<CReadableFile> OpenReadableFile(const std::string& utf8Path) {
    auto file = std::make_unique<CWin32ReadableFile>(OpenForReading(Wide(utf8Path).c_str()));
    if (!file->IsOpen()) return nullptr;
    return file;
}
