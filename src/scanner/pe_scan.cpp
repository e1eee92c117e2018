#include "scanner/pe_scan.h"

#include <algorithm>
#include <cstring>

#include "signature/signature_index.h"

namespace pe {

std::vector<Window> RegionWindows(uint64_t offset, uint32_t length) {
    if (length <= kWholeRegionLimit) return {{offset, length}};
    return {{offset, kRegionSample}, {offset + length - kRegionSample, kRegionSample}};
}

}  // namespace pe

namespace {

bool ReadExact(CReadableFile& file, uint64_t offset, uint8_t* buffer, std::size_t count) {
    return file.ReadAt(offset, buffer, count) == static_cast<int64_t>(count);
}

// Reads the headers into `headers`; the file offset of the section table, or
// 0 when the file is no PE executable.
uint64_t ReadHeaders(CReadableFile& file, uint64_t size, ExecutableHeaders& headers) {
    if (size < pe::kMinFileSize) return 0;
    uint8_t* dos = headers.dosHeader;
    if (!ReadExact(file, 0, dos, pe::kDosHeaderSize) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const uint64_t e = pe::Read32(dos + 60);
    if (e > size || pe::kNtHeadersSize > size - e) return 0;
    std::memset(headers.ntHeaders, 0, sizeof headers.ntHeaders);
    const std::size_t ntBytes = static_cast<std::size_t>(std::min<uint64_t>(pe::kNtHeadersMaxSize, size - e));
    if (!ReadExact(file, e, headers.ntHeaders, ntBytes)) return 0;
    const uint8_t* nt = headers.ntHeaders;
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return 0;
    return e + 24 + pe::Read16(nt + 20);  // after the optional header, PE32 and PE32+ alike
}

}  // namespace

PeScanOutcome ScanPeFile(CReadableFile& file, const CSignatureIndex& index, ExecutableHeaders& headers,
                         std::vector<uint8_t>& sectionTable, std::vector<uint8_t>& buffer, bool scanEntryPoint,
                         const std::function<bool()>& stop) {
    PeScanOutcome out;
    headers.sectionTable = nullptr;
    headers.sectionCount = 0;
    const uint64_t size = file.Size();
    const uint64_t tableOffset = ReadHeaders(file, size, headers);
    if (tableOffset == 0) return out;
    const uint32_t declared = pe::Read16(headers.ntHeaders + 6);
    if (declared == 0 || tableOffset >= size) return out;

    // A table cut short by the end of the file: only the headers read whole.
    const uint64_t available = std::min<uint64_t>(declared * pe::kSectionHeaderSize, size - tableOffset);
    sectionTable.assign(static_cast<std::size_t>(available), 0);
    const int64_t got = file.ReadAt(tableOffset, sectionTable.data(), sectionTable.size());
    if (got < 0) {
        sectionTable.clear();
        return out;
    }
    const uint32_t count = static_cast<uint32_t>(static_cast<uint64_t>(got) / pe::kSectionHeaderSize);
    headers.sectionTable = sectionTable.data();
    headers.sectionCount = count;
    out.result = PeScanResult::Clean;

    if (buffer.size() < pe::kReadBufferSize) buffer.resize(pe::kReadBufferSize);
    uint64_t budget = pe::kReadBudget;
    // Searches one region; true on a match.
    auto scanRegion = [&](uint64_t offset, uint32_t length) {
        for (const pe::Window& w : pe::RegionWindows(offset, length)) {
            if (stop()) return false;
            if (w.offset >= size || budget == 0) continue;  // nothing of it in the file
            const std::size_t want = static_cast<std::size_t>(
                std::min<uint64_t>({w.length, pe::kReadBufferSize, size - w.offset, budget}));
            const int64_t n = file.ReadAt(w.offset, buffer.data(), want);
            if (n <= 0) continue;
            budget -= static_cast<uint64_t>(n);
            out.kilobytes += static_cast<double>(n / 1024);
            std::size_t start = 0;
            if (const SignatureIndexEntry* hit = index.FindInFile(buffer.data(), static_cast<std::size_t>(n), start)) {
                out.result = PeScanResult::Matched;
                out.match = hit;
                out.matchOffset = w.offset + start;
                return true;
            }
        }
        return false;
    };

    for (uint32_t i = 0; i < count && !stop(); ++i) {
        const pe::SectionView s{sectionTable.data() + static_cast<std::size_t>(i) * pe::kSectionHeaderSize};
        if (s.SizeOfRawData() != 0 && scanRegion(s.PointerToRawData(), s.SizeOfRawData())) return out;
    }
    if (scanEntryPoint && !stop()) {
        const uint32_t entry = pe::Read32(headers.ntHeaders + 40);
        if (scanRegion(RvaToFileOffset(count, sectionTable.data(), entry), pe::kEntryRegionSize)) return out;
    }
    headers.sectionTable = nullptr;  // kept only for the remover of a match
    headers.sectionCount = 0;
    return out;
}
