// The memory scan over an abstract system: version and privilege checks, the
// process and module walks, overlapping block reads of each module image,
// the hit collections and their hand-over to the removers after the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "removers/remover.h"

class CScanController;

namespace memscan {

constexpr uint32_t kBlockSize = 65536;
constexpr uint32_t kBlockStep = 64512;  // consecutive blocks overlap by 1,024 bytes
constexpr uint32_t kHeaderProbeSize = 4096;
constexpr std::size_t kStatusUnits = 1000;  // the status text never holds more, NUL included
constexpr uint32_t kMaxRelocationDirectory = 2097152;

// SizeOfImage of the PE headers at the start of `bytes`, 0 when they are not
// there whole: "MZ", e (offset 60) at least 4, the "PE\0\0" signature at e and
// the 32-bit value at e + 80 both inside the range.
uint32_t HeaderImageSize(const uint8_t* bytes, std::size_t length);

// How many bytes from the module's base are read: the reported size when the
// in-memory header agrees with it, else the on-disk header's size, else 0.
// Never more than a non-zero reported size, so no read leaves the image.
uint64_t ScanSize(uint64_t reportedSize, uint32_t memoryImageSize, uint32_t fileImageSize);

// The blocks of a module of `size` bytes: 65,536 bytes (fewer at the end) at
// offsets 0, 64,512, 128,024, ..., the last one ending at `size`.
class CBlockWalk {
public:
    explicit CBlockWalk(uint64_t size) : remaining_(size) {}
    bool Done() const { return done_ || remaining_ == 0; }
    uint64_t Offset() const { return offset_; }
    uint32_t Length() const { return remaining_ < kBlockSize ? static_cast<uint32_t>(remaining_) : kBlockSize; }
    void Next() {
        if (remaining_ > kBlockStep) {
            offset_ += kBlockStep;
            remaining_ -= kBlockStep;
        } else {
            done_ = true;
        }
    }

private:
    uint64_t offset_ = 0;
    uint64_t remaining_;
    bool done_ = false;
};

}  // namespace memscan

// Absolute addresses of a relocated DLL's pointer fixups, sorted, read from
// the module image in the process.
class CRelocationTable {
public:
    // Reads `count` bytes at an absolute address in one piece.
    using Reader = std::function<bool(uint64_t address, uint8_t* buffer, std::size_t count)>;

    // Builds the table of the module at `base` of `size` bytes; the table is
    // present only for a DLL loaded away from its ImageBase whose relocation
    // directory lies within the module, holds at most 2 MB and no block
    // reaching past its end, and lists at least one fixup of the image's
    // pointer width (type 3 in PE32, type 10 in PE32+).
    bool Build(const Reader& read, uint64_t base, uint64_t size);
    void Clear();
    bool Present() const { return !addresses_.empty(); }
    const std::vector<uint64_t>& Addresses() const { return addresses_; }
    uint64_t PreferredBase() const { return preferredBase_; }
    // Index range [first, last) of the fixups at addresses in [address, address + length).
    std::pair<std::size_t, std::size_t> FixupsIn(uint64_t address, uint64_t length) const;

private:
    std::vector<uint64_t> addresses_;
    uint64_t preferredBase_ = 0;
};

// A hit of a built-in remover: module, process and remover.
struct BuiltinMemoryHit {
    char16_t modulePath[260] = {};
    uint32_t processId = 0;
    CMalwareRemover* remover = nullptr;
};

// A script-described malware with the processes it was found in.
struct ScriptMemoryHit {
    CMalwareRemover* remover = nullptr;
    std::vector<InfectedProcessRecord> processes;
};

// Copies `text` into a 260-unit path buffer, cut to 259 units.
void CopyPath260(char16_t (&target)[260], std::u16string_view text);

// The hits of one memory scan, in order of discovery.
class CMemoryHits {
public:
    void Clear();
    // Scripted removers go to the script table (one record per process, the
    // first path wins), others to the built-in list (every hit).
    void Record(CMalwareRemover* remover, std::u16string_view path, uint32_t processId);
    void RecordScripted(CMalwareRemover* remover, std::u16string_view path, uint32_t processId);
    void ClearBuiltins() { builtins_.clear(); }
    bool Empty() const { return builtins_.empty() && scripted_.empty(); }
    // Remove of every built-in node in order (more-follow on all but the
    // last), then of every script entry (path null, more-follow set).
    void Dispatch(CScanController& controller) const;

    const std::vector<BuiltinMemoryHit>& Builtins() const { return builtins_; }
    const std::vector<ScriptMemoryHit>& Scripted() const { return scripted_; }

private:
    std::vector<BuiltinMemoryHit> builtins_;
    std::vector<ScriptMemoryHit> scripted_;
};

// Module paths already read in this scan, compared without regard to case.
class CScannedModules {
public:
    bool Contains(std::u16string_view path) const;
    void Add(std::u16string_view path) { paths_.emplace_back(path); }
    void Clear() { paths_.clear(); }

private:
    std::vector<std::u16string> paths_;
};

struct MemoryProcessInfo {
    uint32_t processId = 0;
    std::u16string imageName;
};

struct MemoryModuleInfo {
    std::u16string path;
    uint32_t processId = 0;
    uint64_t base = 0;
    uint64_t size = 0;
};

// What the memory scan needs of the running system. One process list, one
// module list and one opened process at a time.
//
// A process whose memory is out of this program's reach (a 64-bit one seen
// from the 32-bit program: its module walk, or a read of it, fails with
// ERROR_PARTIAL_COPY) is passed over without a message and counted in
// ScanStatistics::unreadableProcesses.
class CMemorySystem {
public:
    virtual ~CMemorySystem() = default;
    // Platform identifier of the OS version (1 9x/ME, 2 NT family); nothing
    // when the version query fails.
    virtual std::optional<uint32_t> PlatformId() = 0;
    virtual bool EnableDebugPrivilege() = 0;
    virtual bool ProcessApiReady() = 0;
    virtual bool IsWindows9x() = 0;
    virtual bool OpenProcessList() = 0;
    virtual bool FirstProcess(MemoryProcessInfo& record) = 0;
    virtual bool NextProcess(MemoryProcessInfo& record) = 0;
    virtual void CloseProcessList() = 0;
    virtual bool OpenModuleList(uint32_t processId) = 0;
    virtual bool FirstModule(MemoryModuleInfo& record) = 0;
    virtual bool NextModule(MemoryModuleInfo& record) = 0;
    virtual void CloseModuleList() = 0;
    // Opens the process for reading (query information and VM read).
    virtual bool OpenProcess(uint32_t processId) = 0;
    // Reads `count` bytes at `address` of the opened process; the number
    // read (fewer when only the start of the range is readable), nothing on
    // failure.
    virtual std::optional<std::size_t> ReadMemory(uint64_t address, uint8_t* buffer, std::size_t count) = 0;
    // Whether the last OpenModuleList or ReadMemory that failed did so because
    // the process's memory is out of this program's reach.
    virtual bool OutOfReach() = 0;
    virtual void CloseProcess() = 0;
    // Reads up to `count` bytes from the start of the file: the number read,
    // 0 when it cannot be opened.
    virtual std::size_t ReadFileHead(const std::u16string& path, uint8_t* buffer, std::size_t count) = 0;
    virtual uint32_t TickCount() = 0;
    // The collecting executable-file scan: appends every remover whose file
    // signature matched the file or one of its streams.
    virtual void ScanExecutable(CScanController& controller, const std::u16string& path,
                                std::vector<CMalwareRemover*>& found) = 0;
};

// One memory scan pass per Run; keeps its buffer and, until the next Run,
// the script hit table.
class CMemoryScan {
public:
    CMemoryScan();
    // 0 when the walk ended (Remove called for every hit), else a negative
    // ScanResultCode.
    int32_t Run(CScanController& controller, CMemorySystem& system);
    const CMemoryHits& Hits() const { return hits_; }

private:
    // Unreachable: the process's memory is out of reach, the rest of it is passed over.
    enum class ModuleStep { Next, NextProcess, Unreachable, Abort };
    ModuleStep ScanModule(const MemoryProcessInfo& process, const MemoryModuleInfo& module);
    // Nothing when the module's first bytes are out of reach and nothing of
    // its process has been read yet.
    std::optional<uint64_t> ModuleScanSize(const MemoryModuleInfo& module);
    void SetStatus(std::u16string_view text);

    CScanController* controller_ = nullptr;
    CMemorySystem* system_ = nullptr;
    CMemoryHits hits_;
    CScannedModules scanned_;
    CRelocationTable relocations_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> probe_;
    std::u16string status_;
    bool firstModule_ = false;
    bool processRead_ = false;  // a read of the current process succeeded
};
