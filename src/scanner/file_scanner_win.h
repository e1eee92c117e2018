// The file scan phase: drives, directory walk, PE files and their NTFS
// alternate data streams; and the collecting executable-file scan the memory
// scanner runs on each process's executable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scan/scan_types.h"
#include "scanner/streams.h"

class CMalwareRemover;
class CProcessApi;

class CFileScanner : public CScanner {
public:
    CFileScanner();
    ~CFileScanner() override;

    int32_t GetKind() override { return 1; }
    int32_t Scan(char16_t* pathBuffer, void* windowHandle, const DriveListNode* drives) override;

    struct DriveEntry {
        std::u16string name;  // "C:"
        uint32_t type;
    };
    // The drives a Scan walks: fixed drives, or those of the list of types
    // 2, 3 and 5, first-character duplicates dropped, at most 49. False when
    // the system gives no drive strings.
    static bool BuildDriveTable(const DriveListNode* drives, std::vector<DriveEntry>& table);

    // The streams of a file, listed on the handle its scan opened.
    struct FileStreams {
        bool listed = false;
        std::vector<StreamInfo> list;
    };

private:
    int32_t ScanDrive(const std::u16string& drive);
    int32_t WalkDirectory(const std::u16string& drive, const std::u16string& relative);
    // Scans the file at `path` and removes it on a match. When it was opened
    // and nothing matched, its streams go to `streams` before it is closed.
    void ScanFile(const std::u16string& path, FileStreams* streams = nullptr);

    CProcessApi* system_ = nullptr;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> sectionTable_;
    bool found_ = false;
    uint32_t lastStatusTick_ = 0;
};

// The alternate data streams of a file (BackupRead), newest first as the
// enumeration builds the list; empty when streams cannot be listed. The
// first form opens `path` for it, with backup semantics; the second reads
// them on a handle open for reading, from the start of the file. Neither
// opens or reads anything once BackupRead has shown itself a stub.
std::vector<StreamInfo> ListStreams(const std::u16string& path);
std::vector<StreamInfo> ListStreams(void* file);

// Collecting form: scans the executable at `path` and then each of its
// streams, appending every matching remover to `found`; never calls Remove.
void ScanExecutableFile(CScanController& controller, const std::u16string& path,
                        std::vector<CMalwareRemover*>& found);
