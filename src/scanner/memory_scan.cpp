#include "scanner/memory_scan.h"

#include <algorithm>
#include <cstring>

#include "common/string_table.h"
#include "common/text16.h"
#include "scan/scan_controller.h"
#include "scanner/pe_headers.h"

namespace memscan {

uint32_t HeaderImageSize(const uint8_t* bytes, std::size_t length) {
    if (length < pe::kDosHeaderSize || bytes[0] != 0x4D || bytes[1] != 0x5A) return 0;
    const uint64_t e = pe::Read32(bytes + 60);
    if (e < 4 || e + 84 > length) return 0;
    if (std::memcmp(bytes + e, "PE\0\0", 4) != 0) return 0;
    return pe::Read32(bytes + e + 80);
}

uint64_t ScanSize(uint64_t reportedSize, uint32_t memoryImageSize, uint32_t fileImageSize) {
    if (memoryImageSize != 0 && reportedSize == memoryImageSize) return reportedSize;
    if (fileImageSize == 0) return 0;
    return reportedSize != 0 ? std::min<uint64_t>(fileImageSize, reportedSize) : fileImageSize;
}

}  // namespace memscan

bool CRelocationTable::Build(const Reader& read, uint64_t base, uint64_t size) {
    Clear();
    uint8_t dos[pe::kDosHeaderSize];
    if (size < sizeof dos || !read(base, dos, sizeof dos) || dos[0] != 0x4D || dos[1] != 0x5A) return false;
    const uint64_t e = pe::Read32(dos + 60);
    uint8_t nt[pe::kNtHeadersMaxSize];
    if (e + pe::kNtHeadersSize > size || !read(base + e, nt, pe::kNtHeadersSize)) return false;
    if (std::memcmp(nt, "PE\0\0", 4) != 0 || (pe::Read16(nt + 22) & 0x2000) == 0) return false;
    const uint16_t magic = pe::Read16(nt + 24);
    const bool plus = magic == 0x20B;
    if (!plus && magic != 0x10B) return false;
    if (plus && (e + pe::kNtHeadersMaxSize > size ||
                 !read(base + e + pe::kNtHeadersSize, nt + pe::kNtHeadersSize,
                       pe::kNtHeadersMaxSize - pe::kNtHeadersSize))) {
        return false;
    }
    const uint8_t* optional = nt + 24;
    const uint64_t imageBase = plus ? (pe::Read32(optional + 24) | static_cast<uint64_t>(pe::Read32(optional + 28)) << 32)
                                    : pe::Read32(optional + 28);
    if (imageBase == base) return false;
    const uint32_t directoryCount = pe::Read32(optional + (plus ? 108 : 92));
    if (directoryCount < 6) return false;
    const uint8_t* entry = optional + (plus ? 112 : 96) + 5 * 8;
    const uint64_t rva = pe::Read32(entry);
    const uint32_t length = pe::Read32(entry + 4);
    if (rva == 0 || length == 0 || length > memscan::kMaxRelocationDirectory || rva + length > size) return false;
    std::vector<uint8_t> directory(length);
    if (!read(base + rva, directory.data(), length)) return false;

    const unsigned fixupType = plus ? 10 : 3;
    // First walk: count and check that every block lies within the directory.
    std::size_t count = 0;
    for (uint64_t at = 0; at + 8 <= length;) {
        const uint32_t blockSize = pe::Read32(&directory[at + 4]);
        if (blockSize < 8) break;
        if (blockSize > length - at) return false;
        for (uint64_t i = at + 8; i + 2 <= at + blockSize; i += 2) {
            if (pe::Read16(&directory[i]) >> 12 == fixupType) ++count;
        }
        at += blockSize;
    }
    addresses_.reserve(count);
    for (uint64_t at = 0; at + 8 <= length;) {
        const uint32_t page = pe::Read32(&directory[at]);
        const uint32_t blockSize = pe::Read32(&directory[at + 4]);
        if (blockSize < 8) break;
        for (uint64_t i = at + 8; i + 2 <= at + blockSize; i += 2) {
            const uint16_t word = pe::Read16(&directory[i]);
            if (word >> 12 == fixupType) addresses_.push_back(base + page + (word & 0xFFF));
        }
        at += blockSize;
    }
    std::sort(addresses_.begin(), addresses_.end());
    preferredBase_ = imageBase;
    return Present();
}

void CRelocationTable::Clear() {
    addresses_.clear();
    addresses_.shrink_to_fit();
    preferredBase_ = 0;
}

std::pair<std::size_t, std::size_t> CRelocationTable::FixupsIn(uint64_t address, uint64_t length) const {
    if (length == 0) return {0, 0};
    const auto first = std::lower_bound(addresses_.begin(), addresses_.end(), address);
    const auto last = std::upper_bound(first, addresses_.end(), address + (length - 1));
    return {static_cast<std::size_t>(first - addresses_.begin()), static_cast<std::size_t>(last - addresses_.begin())};
}

void CopyPath260(char16_t (&target)[260], std::u16string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 259);
    std::copy_n(text.data(), n, target);
    std::fill(target + n, target + 260, u'\0');
}

void CMemoryHits::Clear() {
    builtins_.clear();
    scripted_.clear();
}

void CMemoryHits::Record(CMalwareRemover* remover, std::u16string_view path, uint32_t processId) {
    if (remover->IsScripted()) {
        RecordScripted(remover, path, processId);
        return;
    }
    BuiltinMemoryHit& hit = builtins_.emplace_back();
    CopyPath260(hit.modulePath, path);
    hit.processId = processId;
    hit.remover = remover;
}

void CMemoryHits::RecordScripted(CMalwareRemover* remover, std::u16string_view path, uint32_t processId) {
    auto entry = std::find_if(scripted_.begin(), scripted_.end(),
                              [remover](const ScriptMemoryHit& h) { return h.remover == remover; });
    if (entry == scripted_.end()) {
        entry = scripted_.insert(scripted_.end(), ScriptMemoryHit{remover, {}});
    } else if (std::any_of(entry->processes.begin(), entry->processes.end(),
                           [processId](const InfectedProcessRecord& r) { return r.processId == processId; })) {
        return;
    }
    InfectedProcessRecord& record = entry->processes.emplace_back();
    CopyPath260(record.path, path);
    record.processId = processId;
}

void CMemoryHits::Dispatch(CScanController& controller) const {
    for (std::size_t i = 0; i < builtins_.size(); ++i) {
        const BuiltinMemoryHit& hit = builtins_[i];
        controller.HandleDetection(*hit.remover, hit.modulePath, &hit.processId, DetectionSource::Memory,
                                   i + 1 < builtins_.size());
    }
    for (const ScriptMemoryHit& hit : scripted_) {
        controller.HandleDetection(*hit.remover, nullptr, &hit.processes, DetectionSource::Memory, true);
    }
}

bool CScannedModules::Contains(std::u16string_view path) const {
    return std::any_of(paths_.begin(), paths_.end(), [path](const std::u16string& p) { return EqualsIgnoreCase(p, path); });
}

CMemoryScan::CMemoryScan() : buffer_(memscan::kBlockSize), probe_(memscan::kHeaderProbeSize) {}

void CMemoryScan::SetStatus(std::u16string_view text) {
    status_.assign(text.substr(0, memscan::kStatusUnits - 1));
    controller_->SetStatusText(status_);
}

int32_t CMemoryScan::Run(CScanController& controller, CMemorySystem& system) {
    controller_ = &controller;
    system_ = &system;
    hits_.Clear();
    scanned_.Clear();
    relocations_.Clear();

    const std::optional<uint32_t> platform = system.PlatformId();
    if (!platform) {
        controller.Print(LoadText(IDS_ERR_VERSION_QUERY));
        return kScanVersionQueryFailed;
    }
    if (*platform == 2) {
        if (!system.EnableDebugPrivilege()) {
            controller.Print(LoadText(IDS_ERR_ACCESS_RIGHTS));
            return kScanNoRights;
        }
    } else if (*platform != 1) {
        controller.Print(LoadText(IDS_ERR_UNSUPPORTED_WINDOWS));
        return kScanInvalidVersion;
    }
    if (!system.ProcessApiReady()) {
        controller.Print(LoadText(IDS_ERR_MEMORY_SCANNER_INIT));
        return kScanMemoryScannerFailed;
    }
    controller.Print(LoadText(IDS_SCANNING_MEMORY));
    SetStatus(std::u16string(u" ") + LoadText(IDS_SCANNING_MEMORY));
    if (!system.OpenProcessList()) {
        controller.Print(LoadText(IDS_ERR_PROCESS_LIST));
        return kScanSnapshotFailed;
    }

    ScanStatistics& stats = controller.GetStatistics();
    stats.memoryScanMs = 0;
    stats.memoryKB = 0;
    stats.processes = stats.modules = stats.infectedProcesses = stats.unreadableProcesses = 0;
    stats.removedFiles = stats.renamedFiles = stats.terminatedProcesses = 0;
    stats.registryChanges = stats.hostsChanges = stats.iniChanges = 0;

    MemoryProcessInfo process;
    if (!system.FirstProcess(process) && process.processId != 0 && !system.IsWindows9x()) {
        system.CloseProcessList();
        return kScanNoProcesses;
    }
    const uint32_t start = system.TickCount();
    // Unsigned difference: a tick count that wraps during the scan still gives the elapsed time.
    auto elapsed = [&] { return static_cast<double>(static_cast<uint32_t>(system.TickCount() - start)); };

    for (;;) {
        const bool listed = process.processId != 0 && system.OpenModuleList(process.processId);
        if (!listed && process.processId != 0 && system.OutOfReach()) ++stats.unreadableProcesses;
        if (listed) {
            MemoryModuleInfo module;
            if (!system.FirstModule(module)) {
                ++stats.processes;
                system.CloseModuleList();
                SetStatus(u"");
                break;
            }
            firstModule_ = true;
            processRead_ = false;
            ModuleStep step;
            do {
                step = ScanModule(process, module);
            } while (step == ModuleStep::Next && system.NextModule(module));
            system.CloseModuleList();
            if (step == ModuleStep::Unreachable) {
                ++stats.unreadableProcesses;
            } else {
                ++stats.processes;
            }
            if (step == ModuleStep::Abort) {
                system.CloseProcessList();
                scanned_.Clear();
                hits_.ClearBuiltins();
                relocations_.Clear();
                stats.memoryScanMs = elapsed();
                return kScanAborted;
            }
        }
        if (!system.NextProcess(process)) break;
    }

    SetStatus(u"");
    scanned_.Clear();
    system.CloseProcessList();
    stats.memoryScanMs = elapsed();
    controller.Print(std::u16string(u" ") + LoadText(IDS_DONE));
    if (hits_.Empty()) {
        controller.Print(LoadText(IDS_NO_MALWARE_IN_MEMORY));
    } else {
        hits_.Dispatch(controller);
    }
    return kScanCompleted;
}

std::optional<uint64_t> CMemoryScan::ModuleScanSize(const MemoryModuleInfo& module) {
    const std::optional<std::size_t> read = system_->ReadMemory(module.base, probe_.data(), probe_.size());
    if (!read) {
        if (!processRead_ && system_->OutOfReach()) return std::nullopt;
        return 0;
    }
    processRead_ = true;
    const uint32_t memorySize = memscan::HeaderImageSize(probe_.data(), std::min(*read, probe_.size()));
    // The file's header only matters when the in-memory one disagrees.
    if (memorySize != 0 && memorySize == module.size) return module.size;
    const std::size_t fileRead = system_->ReadFileHead(module.path, probe_.data(), probe_.size());
    const uint32_t fileSize = memscan::HeaderImageSize(probe_.data(), std::min(fileRead, probe_.size()));
    return memscan::ScanSize(module.size, memorySize, fileSize);
}

CMemoryScan::ModuleStep CMemoryScan::ScanModule(const MemoryProcessInfo& process, const MemoryModuleInfo& module) {
    CScanController& controller = *controller_;
    ScanStatistics& stats = controller.GetStatistics();
    if (!scanned_.Contains(module.path)) {
        if (!system_->OpenProcess(module.processId)) {
            controller.Print(Format16(LoadText(IDS_CANNOT_OPEN_PROCESS), {process.imageName}));
            SetStatus(u"");
            return ModuleStep::NextProcess;
        }
        const std::optional<uint64_t> size = ModuleScanSize(module);
        if (!size) {
            system_->CloseProcess();
            SetStatus(u"");
            return ModuleStep::Unreachable;
        }
        if (firstModule_ && controller.HasDescriptionWithoutMemorySignature()) {
            const std::u16string& path = system_->IsWindows9x() ? process.imageName : module.path;
            std::vector<CMalwareRemover*> found;
            system_->ScanExecutable(controller, path, found);
            for (CMalwareRemover* remover : found) {
                if (!remover->IsScripted()) continue;
                ++stats.infectedProcesses;
                hits_.RecordScripted(remover, path, module.processId);
            }
        }
        SetStatus(Format16(LoadText(IDS_SCANNING_MODULE), {module.path}));
        ++stats.modules;

        relocations_.Clear();
        bool relocationsBuilt = false;
        const CRelocationTable::Reader reader = [this](uint64_t address, uint8_t* buffer, std::size_t count) {
            const std::optional<std::size_t> n = system_->ReadMemory(address, buffer, count);
            return n && *n == count;
        };
        for (memscan::CBlockWalk walk(*size); !walk.Done(); walk.Next()) {
            const uint64_t address = module.base + walk.Offset();
            const std::optional<std::size_t> read = system_->ReadMemory(address, buffer_.data(), walk.Length());
            if (!read) break;
            const std::size_t length = std::min<std::size_t>(*read, walk.Length());
            if (!firstModule_) {
                if (!relocationsBuilt) {
                    relocations_.Build(reader, module.base, *size);
                    relocationsBuilt = true;
                }
                // The fixups of this block are located for a normalisation;
                // the block is searched exactly as read.
                if (relocations_.Present()) static_cast<void>(relocations_.FixupsIn(address, length));
            }
            stats.memoryKB += static_cast<double>(length / 1024);
            if (const SignatureIndexEntry* hit = controller.FindMemorySignature(buffer_.data(), length)) {
                ++stats.infectedProcesses;
                hits_.Record(hit->remover, module.path, module.processId);
            }
        }
        if (!firstModule_) {
            scanned_.Add(module.path);
        } else {
            firstModule_ = false;
        }
        system_->CloseProcess();
    }
    if (controller.IsStopRequested()) return ModuleStep::Abort;
    relocations_.Clear();
    return ModuleStep::Next;
}
