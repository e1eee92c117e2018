#include "scanner/file_scanner_win.h"

#include <windows.h>

#include <atomic>

#include "common/string_table.h"
#include "common/text16.h"
#include "removers/remover.h"
#include "scan/scan_controller.h"
#include "scanner/pe_scan.h"
#include "common/file_io_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"
#include "removal/file_guard_win.h"
#include "scanner/process_api_win.h"
#include "scanner/readable_file_win.h"

namespace {

constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kMaxDrives = 49;
constexpr DWORD kStatusInterval = 50;

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

// Under WOW64 files are found and opened with file-system redirection off:
// a path in the system folder names the real one, as it does for the removal
// primitives the found paths go to.

// A file or stream opened for reading, as the PE reader reads it.
class CWin32File : public CWin32ReadableFile {
public:
    explicit CWin32File(const std::u16string& path) : CWin32ReadableFile(OpenUnredirected(path)) {}

private:
    static HANDLE OpenUnredirected(const std::u16string& path) {
        CFsRedirectionOff redirection;
        return OpenForReading(W(path));
    }
};

// Set once BackupRead has shown itself a stub: no file has streams to list.
std::atomic<bool> g_backupReadMissing{false};

// The BackupRead sequence of an open file.
class CWin32BackupStream : public CBackupStream {
public:
    using BackupReadFn = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);
    using BackupSeekFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, LPDWORD, LPDWORD, LPVOID*);
    CWin32BackupStream(HANDLE file, BackupReadFn read, BackupSeekFn seek) : file_(file), read_(read), seek_(seek) {}
    ~CWin32BackupStream() override {
        DWORD n = 0;
        if (context_ != nullptr) read_(file_, nullptr, 0, &n, TRUE, FALSE, &context_);  // frees the context
    }
    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        DWORD n = 0;
        if (!read_(file_, buffer, static_cast<DWORD>(count), &n, FALSE, FALSE, &context_)) {
            // The first header of a file is always there to read where
            // BackupRead is implemented; 9x/ME and Wine have stubs that fail.
            const DWORD error = GetLastError();
            if (first_ && (error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SUPPORTED)) g_backupReadMissing = true;
            return 0;
        }
        first_ = false;
        return n;
    }
    bool Skip(uint64_t count) override {
        if (count == 0) return true;
        DWORD low = 0, high = 0;
        return seek_(file_, static_cast<DWORD>(count), static_cast<DWORD>(count >> 32), &low, &high, &context_) != FALSE;
    }

private:
    HANDLE file_;
    BackupReadFn read_;
    BackupSeekFn seek_;
    LPVOID context_ = nullptr;
    bool first_ = true;
};

bool BackupApiUsable(const CProcessApi* api) { return api != nullptr && api->backupApiReady() && !g_backupReadMissing; }

// The streams of `file`, whose file pointer is at its start.
std::vector<StreamInfo> ListStreamsFromStart(CProcessApi& api, HANDLE file) {
    CWin32BackupStream stream(file, reinterpret_cast<CWin32BackupStream::BackupReadFn>(api.BackupReadFunction()),
                              reinterpret_cast<CWin32BackupStream::BackupSeekFn>(api.BackupSeekFunction()));
    return ReadStreamHeaders(stream);
}

bool IsFloppy(const std::u16string& drive) {
    return drive.size() >= 2 && (FoldCase16(drive[0]) == u'a' || FoldCase16(drive[0]) == u'b') && drive[1] == u':';
}

double Now() { return static_cast<double>(GetTickCount()); }

// "%s%s" or "%s\%s": a backslash between the parts unless the first ends with one.
std::u16string Join(const std::u16string& a, const std::u16string& b) {
    return !a.empty() && a.back() == u'\\' ? a + b : a + u"\\" + b;
}

}  // namespace

std::vector<StreamInfo> ListStreams(HANDLE file) {
    CProcessApi* api = CProcessApi::GetInstance();
    if (!BackupApiUsable(api) || !SeekFile64(file, 0)) return {};  // BackupRead reads on from the file pointer
    return ListStreamsFromStart(*api, file);
}

std::vector<StreamInfo> ListStreams(const std::u16string& path) {
    CProcessApi* api = CProcessApi::GetInstance();
    if (!BackupApiUsable(api)) return {};
    CFsRedirectionOff redirection;
    UniqueHandle file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    redirection.Revert();
    if (!file) return {};
    return ListStreamsFromStart(*api, file.get());
}

CFileScanner::CFileScanner() : system_(CProcessApi::GetInstance()), buffer_(pe::kReadBufferSize) {}

CFileScanner::~CFileScanner() = default;

bool CFileScanner::BuildDriveTable(const DriveListNode* drives, std::vector<DriveEntry>& table) {
    table.clear();
    if (drives == nullptr) {
        wchar_t roots[1023];
        const DWORD n = GetLogicalDriveStringsW(1023, roots);
        if (n == 0) return false;
        for (const wchar_t* r = roots; *r != 0 && r < roots + 1023; r += wcslen(r) + 1) {
            if (GetDriveTypeW(r) != DRIVE_FIXED) continue;
            std::u16string name = U(r);
            if (!name.empty() && name.back() == u'\\') name.pop_back();
            if (table.size() < kMaxDrives) table.push_back({name, DRIVE_FIXED});
        }
        return true;
    }
    for (const DriveListNode* d = drives; d != nullptr; d = d->next.get()) {
        const UINT type = GetDriveTypeW(W(d->text));
        if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE && type != DRIVE_CDROM) continue;
        bool duplicate = false;
        for (const DriveEntry& e : table) duplicate |= !e.name.empty() && !d->text.empty() && e.name[0] == d->text[0];
        if (duplicate || table.size() >= kMaxDrives) continue;
        table.push_back({d->text, type});
    }
    return true;
}

int32_t CFileScanner::Scan(char16_t*, void*, const DriveListNode* drives) {
    std::vector<DriveEntry> table;
    if (!BuildDriveTable(drives, table)) return kScanNoDrives;
    CScanController& c = *owner_;
    if (c.IsStopRequested()) return kScanAborted;
    ScanStatistics& s = c.GetStatistics();
    s.fileScanMs = 0;
    s.directories = 0;
    s.infectedFiles = 0;
    s.fileKB = 0;
    s.files = 0;
    s.streams = 0;
    found_ = false;
    for (const DriveEntry& drive : table) {
        ScanDrive(drive.name);
        c.SetStatusText(u"");
        if (c.IsStopRequested()) break;
    }
    if (c.IsStopRequested()) {
        c.SetStatusText(u"");
        return kScanAborted;
    }
    if (found_) return kScanMalwareRemoved;
    c.Print(LoadText(IDS_NO_MALWARE_ON_DRIVES));
    return kScanCompleted;
}

int32_t CFileScanner::ScanDrive(const std::u16string& drive) {
    CScanController& c = *owner_;
    if (c.IsStopRequested()) return kScanAborted;
    c.Print(LoadText(IDS_SCANNING_DRIVE));
    c.Print(drive);
    c.Print(u" ...\r\n");
    ScanStatistics& s = c.GetStatistics();
    const bool timed = !IsFloppy(drive);
    if (timed) s.fileScanMs = Now() - s.fileScanMs;
    const int32_t walked = WalkDirectory(drive, u"\\");
    if (timed) s.fileScanMs = Now() - s.fileScanMs;
    if (c.IsStopRequested()) return kScanAborted;
    if (walked == kScanInvalidHandle) c.Print(Format16(LoadText(IDS_NO_MEDIA), {drive}));
    return 0;
}

int32_t CFileScanner::WalkDirectory(const std::u16string& drive, const std::u16string& relative) {
    CScanController& c = *owner_;
    std::u16string pattern = drive + relative;
    if (pattern.back() != u'\\') pattern += u'\\';
    pattern += u"*.*";
    if (c.IsStopRequested()) return kScanAborted;
    WIN32_FIND_DATAW entry;
    CFsRedirectionOff redirection;
    HANDLE raw = FindFirstFileW(W(pattern), &entry);
    redirection.Revert();  // the search goes on through its handle
    ScanStatistics& s = c.GetStatistics();
    if (raw == INVALID_HANDLE_VALUE) {
        // An empty root has no "." entry to list: it is empty, not missing.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return kScanInvalidHandle;
        ++s.directories;
        return 0;
    }
    struct FindCloser {
        HANDLE h;
        ~FindCloser() { FindClose(h); }
    } closer{raw};
    ++s.directories;
    do {
        const std::u16string name = U(entry.cFileName);
        if (name == u"." || name == u"..") continue;
        if (c.IsStopRequested()) break;
        const std::u16string path = Join(relative, name);
        if (drive.size() + path.size() >= kMaxPath) continue;  // beyond the path limit: passed over
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A junction or directory link could lead back up the tree.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) WalkDirectory(drive, path);
            continue;
        }
        const std::u16string full = drive + path;
        const DWORD now = GetTickCount();
        if (now - lastStatusTick_ >= kStatusInterval) {
            c.SetStatusText(full);
            lastStatusTick_ = now;
        }
        // The streams are listed on the scan's handle; the file is opened for
        // them alone when it was not scanned or not left open.
        FileStreams streams;
        if (entry.nFileSizeLow > pe::kMinFileSize) {
            ++s.files;
            ScanFile(full, &streams);
        }
        if (!streams.listed) streams.list = ListStreams(full);
        for (const StreamInfo& stream : streams.list) {
            if (full.size() + stream.name.size() >= kMaxPath) continue;
            ScanFile(full + stream.name);
            ++s.streams;
        }
    } while (!c.IsStopRequested() && FindNextFileW(raw, &entry));
    return c.IsStopRequested() ? kScanAborted : 0;
}

void CFileScanner::ScanFile(const std::u16string& path, FileStreams* streams) {
    CScanController& c = *owner_;
    if (c.IsStopRequested()) return;
    CWin32File file(path);
    if (!file.IsOpen()) return;
    CProcessApi& api = *system_;
    const PeScanOutcome out = ScanPeFile(file, c.Index(), api.Headers(), sectionTable_, buffer_, !found_,
                                         [&c] { return c.IsStopRequested(); });
    c.GetStatistics().fileKB += out.kilobytes;
    if (streams != nullptr && out.result != PeScanResult::Matched) {
        streams->list = ListStreams(file.Handle());
        streams->listed = true;
    }
    if (out.result != PeScanResult::Matched) return;
    // Removal acts on this file only: the path may lead elsewhere by then.
    const std::optional<FileIdentity> identity = IdentityOf(file.Handle());
    file.Close();
    found_ = true;
    ++c.GetStatistics().infectedFiles;
    api.Headers().matchOffset = static_cast<uint32_t>(out.matchOffset);
    const uint32_t noProcess = 0;
    {
        CDetectedFileScope detected(path, identity);
        c.HandleDetection(*out.match->remover, path.c_str(), &noProcess, DetectionSource::File, false);
    }
    api.Headers().matchOffset = 0;
    api.Headers().sectionTable = nullptr;
    api.Headers().sectionCount = 0;
}

void ScanExecutableFile(CScanController& controller, const std::u16string& path,
                        std::vector<CMalwareRemover*>& found) {
    CProcessApi* api = CProcessApi::GetInstance();
    if (api == nullptr) return;
    ScanStatistics& s = controller.GetStatistics();
    std::vector<uint8_t> sectionTable;
    CFileScanner::FileStreams streams;
    auto scanOne = [&](const std::u16string& p, CFileScanner::FileStreams* listed) {
        CWin32File file(p);
        if (!file.IsOpen()) return;
        const PeScanOutcome out = ScanPeFile(file, controller.Index(), api->Headers(), sectionTable,
                                             api->ReadBuffer(), true, [&] { return controller.IsStopRequested(); });
        s.fileKB += out.kilobytes;
        if (out.result != PeScanResult::NotExecutable) ++s.files;
        if (out.result == PeScanResult::Matched) found.push_back(out.match->remover);
        api->Headers().sectionTable = nullptr;
        api->Headers().sectionCount = 0;
        if (listed != nullptr) {
            listed->list = ListStreams(file.Handle());
            listed->listed = true;
        }
    };
    scanOne(path, &streams);
    ++s.streams;
    if (!streams.listed) streams.list = ListStreams(path);
    for (const StreamInfo& stream : streams.list) {
        if (path.size() + stream.name.size() >= kMaxPath) continue;
        scanOne(path + stream.name, nullptr);
        ++s.streams;
    }
}
