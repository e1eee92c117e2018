#include "removal/file_guard_win.h"

#include <vector>

#include "common/bind_win.h"
#include "common/text16.h"
#include "common/windows_version_win.h"
#include "removal/path_folders.h"
#include "scanner/process_api_win.h"

namespace {

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

struct DetectedFile {
    std::u16string path;
    std::optional<FileIdentity> identity;
};
DetectedFile* g_detected = nullptr;
DetectionHook g_hook = nullptr;

bool IsReparsePoint(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(W(path.c_str()));
    // A folder that cannot be examined is not trusted either.
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool FoldersUnlinked(const char16_t* path, std::size_t from) {
    for (const std::u16string& folder : FoldersBelow(path, from)) {
        if (IsReparsePoint(folder)) return false;
    }
    return true;
}

// The native file-information call (ntdll, NT 3.1 on).
struct IoStatusBlock {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
struct FileBasicInformation {
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;  // 0: unchanged
    ULONG fileAttributes;
};
struct FileDispositionInformation {
    BOOLEAN deleteFile;
};
constexpr int kFileBasicInformation = 4;
constexpr int kFileDispositionInformation = 13;
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, IoStatusBlock*, PVOID, ULONG, int);

}  // namespace

std::optional<FileIdentity> IdentityOf(HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE || IsWindows9xFamily()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

CDetectedFileScope::CDetectedFileScope(const std::u16string& path, const std::optional<FileIdentity>& identity) {
    g_detected = new DetectedFile{path, identity};
    if (g_hook != nullptr) g_hook(path.c_str());
}

CDetectedFileScope::~CDetectedFileScope() {
    delete g_detected;
    g_detected = nullptr;
}

void SetDetectionHook(DetectionHook hook) { g_hook = hook; }

UniqueHandle OpenUnfollowed(const char16_t* path, DWORD access, DWORD share) {
    return UniqueHandle(
        CreateFileW(W(path), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool IsDetectedFile(const char16_t* path, HANDLE open) {
    if (g_detected == nullptr || !g_detected->identity || !EqualsIgnoreCase(g_detected->path, path)) return true;
    UniqueHandle own;
    if (open == nullptr) {
        // Attribute access alone passes any sharing mode.
        own = OpenUnfollowed(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        open = own.get();
    }
    const std::optional<FileIdentity> now = IdentityOf(open);
    return now && *now == *g_detected->identity;
}

std::vector<std::u16string> UserWritableFolders() {
    std::vector<std::u16string> folders;
    CProcessApi* api = CProcessApi::GetInstance();
    if (api == nullptr || IsWindows9xFamily()) return folders;
    for (const char16_t* folder :
         {api->GetProfileDir(), api->GetTempDir(), api->GetCookiesDir(), api->GetInternetCacheDir()}) {
        if (folder != nullptr && *folder != 0) folders.emplace_back(folder);
    }
    return folders;
}

bool UserFoldersUnlinked(const char16_t* path, const std::vector<std::u16string>& userFolders) {
    for (const std::u16string& folder : userFolders) {
        if (const std::optional<std::size_t> from = InsideFolder(path, folder)) {
            if (!FoldersUnlinked(path, *from)) return false;
        }
    }
    return true;
}

bool PathUnlinked(const char16_t* path) {
    if (IsWindows9xFamily()) return true;
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    return FoldersUnlinked(path, 0);
}

bool DeleteByHandle(HANDLE file) {
    static const auto setInformation = BindLoaded<NtSetInformationFileFn>(L"ntdll.dll", "NtSetInformationFile");
    if (setInformation == nullptr || file == nullptr) return false;
    IoStatusBlock io{};
    FileBasicInformation basic{};
    basic.fileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (setInformation(file, &io, &basic, sizeof basic, kFileBasicInformation) < 0) return false;
    FileDispositionInformation disposition{TRUE};
    return setInformation(file, &io, &disposition, sizeof disposition, kFileDispositionInformation) >= 0;
}
