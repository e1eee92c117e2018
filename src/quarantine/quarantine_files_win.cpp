// The quarantine folder's files through the Win32 file functions that every
// Windows the tool runs on has (the wide ones through the Unicode layer on
// 9x/ME). Restored files are written with WOW64's file-system redirection
// off, so that a file kept from System32 goes back there.
#include <windows.h>

#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"
#include "quarantine/quarantine_store.h"
#include "removal/file_guard_win.h"
#include "quarantine/quarantine_win.h"
#include "removal/path_folders.h"

namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

bool IsAlreadyThere(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

enum class Written { kDone, kExists, kFailed };

// `bytes` as the new file `target`, through a temporary in `folder`.
Written WriteNew(const std::u16string& folder, const std::u16string& target, const std::vector<uint8_t>& bytes,
                 const char16_t* prefix) {
    std::u16string temporary;
    UniqueHandle file = CreateFreshFile(folder, prefix, GENERIC_WRITE, temporary);
    if (!file) return Written::kFailed;
    const bool written = WriteAllBytes(file.get(), bytes.data(), bytes.size()) && FlushFileBuffers(file.get());
    file.reset();
    if (written && RenameNew(temporary, target)) return Written::kDone;
    const DWORD error = GetLastError();
    DeleteFileW(W(temporary));
    return written && IsAlreadyThere(error) ? Written::kExists : Written::kFailed;
}

class CWin32QuarantineFiles : public CQuarantineFiles {
public:
    // "D:\" and "D:\q\" name their folders as "D:" and "D:\q" do.
    explicit CWin32QuarantineFiles(const std::u16string& folder) : folder_(folder) {
        while (!folder_.empty() && (folder_.back() == u'\\' || folder_.back() == u'/')) folder_.pop_back();
    }

    bool List(std::vector<std::u16string>& names) override {
        WIN32_FIND_DATAW data;
        const HANDLE find = FindFirstFileW(W(folder_ + u"\\*"), &data);
        if (find == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        std::vector<std::u16string> found;
        do {
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                const char16_t* name = reinterpret_cast<const char16_t*>(data.cFileName);
                found.emplace_back(name);
            }
        } while (FindNextFileW(find, &data));
        const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
        FindClose(find);
        if (complete) names = std::move(found);
        return complete;
    }

    std::optional<std::vector<uint8_t>> Read(std::u16string_view name) override {
        return ReadFileBytes(W(PathOf(name)));
    }

    bool Create(std::u16string_view name, const std::vector<uint8_t>& bytes) override {
        CreateDirectoryW(W(folder_), nullptr);
        return WriteNew(folder_, PathOf(name), bytes, u"~tsq") == Written::kDone;
    }

    bool Remove(std::u16string_view name) override {
        const std::u16string path = PathOf(name);
        SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(W(path)) || !PathExists(W(path));
    }

    PlaceResult Place(const std::u16string& path, const std::vector<uint8_t>& bytes) override {
        CFsRedirectionOff redirection;
        if (PathExists(W(path))) return PlaceResult::kExists;
        // Run elevated, a restore never follows a link a user planted on the way.
        if (!PathUnlinked(path.c_str())) return PlaceResult::kLinked;
        const std::u16string folder = ContainingFolder(path);
        if (folder.empty()) return PlaceResult::kFailed;
        switch (WriteNew(folder, path, bytes, u"~tsr")) {
            case Written::kDone: return PlaceResult::kPlaced;
            case Written::kExists: return PlaceResult::kExists;
            case Written::kFailed: break;
        }
        return PlaceResult::kFailed;
    }

private:
    std::u16string PathOf(std::u16string_view name) const { return folder_ + u"\\" + std::u16string(name); }

    std::u16string folder_;
};

}  // namespace

std::unique_ptr<CQuarantineFiles> OpenQuarantineFiles(const std::u16string& folder) {
    return std::make_unique<CWin32QuarantineFiles>(folder);
}

std::u16string FreshEntryTag() { return FreshNameTag(); }
