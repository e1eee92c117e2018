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

// The read buffer as a cache of the file: the head and every window read
// since stay where they were read until the buffer is full, so that no byte
// already held is read again, and a window that continues the last read only
// reads what is missing.
class CFileCache {
public:
    CFileCache(CReadableFile& file, std::vector<uint8_t>& buffer) : file_(file), buffer_(buffer) {}

    // The first `count` bytes of the file: how many were read, or -1.
    int64_t ReadHead(std::size_t count) {
        const int64_t n = file_.ReadAt(0, buffer_.data(), count);
        if (n > 0) Add(0, 0, static_cast<std::size_t>(n));
        return n;
    }
    const uint8_t* Head() const { return buffer_.data(); }

    // The bytes [offset, offset + count) with `count` at most the buffer's
    // size: a pointer to them and in `got` how many there are (fewer at the
    // end of the file), or null on a read error. When they must be read, the
    // read goes on to `readEnd` where the buffer has room, for the windows
    // that follow.
    const uint8_t* Get(uint64_t offset, std::size_t count, uint64_t readEnd, std::size_t& got) {
        for (std::size_t i = 0; i < segmentCount_; ++i) {
            const Segment& s = segments_[i];
            if (offset >= s.offset && offset - s.offset + count <= s.length) {
                got = count;
                return buffer_.data() + s.at + (offset - s.offset);
            }
        }
        const uint64_t end = std::max<uint64_t>(offset + count, readEnd);
        if (segmentCount_ != 0) {
            // Continues the last read: only the missing bytes, placed after it.
            Segment& last = segments_[segmentCount_ - 1];
            const uint64_t lastEnd = last.offset + last.length;
            if (last.at + last.length == used_ && offset >= last.offset && offset <= lastEnd &&
                offset + count - lastEnd <= buffer_.size() - used_) {
                const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(end - lastEnd, buffer_.size() - used_));
                const int64_t n = want == 0 ? 0 : file_.ReadAt(lastEnd, buffer_.data() + used_, want);
                if (n < 0) return nullptr;
                last.length += static_cast<std::size_t>(n);
                used_ += static_cast<std::size_t>(n);
                got = static_cast<std::size_t>(std::min<uint64_t>(count, last.offset + last.length - offset));
                return buffer_.data() + last.at + (offset - last.offset);
            }
        }
        if (buffer_.size() - used_ < count || segmentCount_ == kMaxSegments) Clear();
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(end - offset, buffer_.size() - used_));
        const int64_t n = file_.ReadAt(offset, buffer_.data() + used_, want);
        if (n < 0) return nullptr;
        const std::size_t at = used_;
        if (n > 0) Add(offset, at, static_cast<std::size_t>(n));
        got = std::min(count, static_cast<std::size_t>(n));
        return buffer_.data() + at;
    }

    // Copies [offset, offset + count) into `out`, from the buffer when it
    // holds them whole, else read straight into `out`: how many, or -1.
    int64_t CopyOut(uint64_t offset, uint8_t* out, std::size_t count) {
        for (std::size_t i = 0; i < segmentCount_; ++i) {
            const Segment& s = segments_[i];
            if (offset >= s.offset && offset - s.offset + count <= s.length) {
                if (count != 0) std::memcpy(out, buffer_.data() + s.at + (offset - s.offset), count);
                return static_cast<int64_t>(count);
            }
        }
        return file_.ReadAt(offset, out, count);
    }

private:
    struct Segment {
        uint64_t offset;
        std::size_t at;
        std::size_t length;
    };
    static constexpr std::size_t kMaxSegments = 16;

    void Add(uint64_t offset, std::size_t at, std::size_t length) {
        segments_[segmentCount_++] = {offset, at, length};
        used_ = at + length;
    }
    void Clear() {
        segmentCount_ = 0;
        used_ = 0;
    }

    CReadableFile& file_;
    std::vector<uint8_t>& buffer_;
    Segment segments_[kMaxSegments] = {};
    std::size_t segmentCount_ = 0;
    std::size_t used_ = 0;
};

// The file's size, asked for once and only when needed: a head read short of
// 4,096 bytes already tells it.
class CFileSize {
public:
    CFileSize(CReadableFile& file, int64_t head)
        : file_(file), size_(head < static_cast<int64_t>(pe::kHeadSize) ? static_cast<uint64_t>(head) : 0),
          known_(head < static_cast<int64_t>(pe::kHeadSize)) {}
    uint64_t operator()() {
        if (!known_) {
            size_ = file_.Size();
            known_ = true;
        }
        return size_;
    }

private:
    CReadableFile& file_;
    uint64_t size_;
    bool known_;
};

// Reads the headers into `headers`: the file offset of the section table (0
// when the file is no PE executable) and in `size` the file's size. The head
// read holds the headers of most files; the size is asked for only of a file
// whose NT headers it holds whole with the "PE" signature, or does not hold.
uint64_t ReadHeaders(CReadableFile& file, CFileCache& cache, ExecutableHeaders& headers, uint64_t& size) {
    const int64_t head = cache.ReadHead(pe::kHeadSize);
    if (head < static_cast<int64_t>(pe::kMinFileSize)) return 0;  // short of 312 bytes, or unreadable
    const uint8_t* dos = cache.Head();
    if (dos[0] != 'M' || dos[1] != 'Z') return 0;
    std::memcpy(headers.dosHeader, dos, pe::kDosHeaderSize);
    CFileSize fileSize(file, head);
    const uint64_t e = pe::Read32(dos + 60);
    std::size_t ntBytes = pe::kNtHeadersMaxSize;
    if (e + pe::kNtHeadersMaxSize > static_cast<uint64_t>(head)) {  // else the file holds them whole
        const uint64_t total = fileSize();
        if (total < pe::kMinFileSize || e > total || pe::kNtHeadersSize > total - e) return 0;
        ntBytes = static_cast<std::size_t>(std::min<uint64_t>(pe::kNtHeadersMaxSize, total - e));
    }
    std::memset(headers.ntHeaders, 0, sizeof headers.ntHeaders);
    if (cache.CopyOut(e, headers.ntHeaders, ntBytes) != static_cast<int64_t>(ntBytes)) return 0;
    const uint8_t* nt = headers.ntHeaders;
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return 0;
    size = fileSize();
    if (size < pe::kMinFileSize) return 0;
    return e + 24 + pe::Read16(nt + 20);  // after the optional header, PE32 and PE32+ alike
}

}  // namespace

PeScanOutcome ScanPeFile(CReadableFile& file, const CSignatureIndex& index, ExecutableHeaders& headers,
                         std::vector<uint8_t>& sectionTable, std::vector<uint8_t>& buffer, bool scanEntryPoint,
                         const std::function<bool()>& stop) {
    PeScanOutcome out;
    headers.sectionTable = nullptr;
    headers.sectionCount = 0;
    if (buffer.size() < pe::kReadBufferSize) buffer.resize(pe::kReadBufferSize);
    CFileCache cache(file, buffer);
    uint64_t size = 0;
    const uint64_t tableOffset = ReadHeaders(file, cache, headers, size);
    if (tableOffset == 0) return out;
    const uint32_t declared = pe::Read16(headers.ntHeaders + 6);
    if (declared == 0 || tableOffset >= size) return out;

    // A table cut short by the end of the file: only the headers read whole.
    const uint64_t available = std::min<uint64_t>(declared * pe::kSectionHeaderSize, size - tableOffset);
    sectionTable.assign(static_cast<std::size_t>(available), 0);
    const int64_t got = cache.CopyOut(tableOffset, sectionTable.data(), sectionTable.size());
    if (got < 0) {
        sectionTable.clear();
        return out;
    }
    const uint32_t count = static_cast<uint32_t>(static_cast<uint64_t>(got) / pe::kSectionHeaderSize);
    headers.sectionTable = sectionTable.data();
    headers.sectionCount = count;
    out.result = PeScanResult::Clean;

    // Every window in the order it is searched: the sections' in table order,
    // then the entry point's. A read goes on over the next few windows while
    // each begins where the read so far ends or before (sections laid end to
    // end, as linkers write them, come in one read).
    std::vector<pe::Window> plan;
    for (uint32_t i = 0; i < count; ++i) {
        const pe::SectionView s{sectionTable.data() + static_cast<std::size_t>(i) * pe::kSectionHeaderSize};
        if (s.SizeOfRawData() == 0) continue;
        for (const pe::Window& w : pe::RegionWindows(s.PointerToRawData(), s.SizeOfRawData())) plan.push_back(w);
    }
    const uint32_t entry =
        scanEntryPoint ? RvaToFileOffset(count, sectionTable.data(), pe::Read32(headers.ntHeaders + 40)) : 0;
    if (scanEntryPoint) {
        for (const pe::Window& w : pe::RegionWindows(entry, pe::kEntryRegionSize)) plan.push_back(w);
    }
    constexpr std::size_t kReadAheadWindows = 32;
    auto readEnd = [&](std::size_t k) {
        const uint64_t from = plan[k].offset;
        uint64_t end = std::min<uint64_t>(from + plan[k].length, size);
        for (std::size_t j = k + 1; j < plan.size() && j <= k + kReadAheadWindows; ++j) {
            const pe::Window& w = plan[j];
            if (w.offset < from || w.offset > end || w.offset >= size) break;
            const uint64_t wEnd = std::min<uint64_t>(w.offset + w.length, size);
            if (wEnd - from > pe::kReadBufferSize) break;
            end = std::max(end, wEnd);
        }
        return end;
    };

    uint64_t budget = pe::kReadBudget;
    std::size_t next = 0;  // the plan's window scanRegion is at
    // Searches one region; true on a match.
    auto scanRegion = [&](uint64_t offset, uint32_t length) {
        for (const pe::Window& w : pe::RegionWindows(offset, length)) {
            const std::size_t k = next++;
            if (stop()) return false;
            if (w.offset >= size || budget == 0) continue;  // nothing of it in the file
            const std::size_t want = static_cast<std::size_t>(
                std::min<uint64_t>({w.length, pe::kReadBufferSize, size - w.offset, budget}));
            std::size_t n = 0;
            const uint8_t* bytes = cache.Get(w.offset, want, readEnd(k), n);
            if (bytes == nullptr || n == 0) continue;
            budget -= n;
            out.kilobytes += static_cast<double>(n / 1024);
            std::size_t start = 0;
            if (const SignatureIndexEntry* hit = index.FindInFile(bytes, n, start)) {
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
        if (scanRegion(entry, pe::kEntryRegionSize)) return out;
    }
    headers.sectionTable = nullptr;  // kept only for the remover of a match
    headers.sectionCount = 0;
    return out;
}
