// Arbitrary bytes as an executable repaired in place as W32/Stanit: writes
// stay inside the file, its length never changes, a file without the
// virus's entry code is left byte for byte, and an infected one comes out
// with exactly the entry-point field restored and the virus code zeroed.
//
// Input: a mode byte, then the file. Even modes read the header work area
// from the file as the file scan reads it; odd ones take it from the input
// (two length bytes, then DOS header, NT headers and section table) with
// the file after it, so that headers and file need not agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "removers/removal_system.h"
#include "removers/stanit_repair.h"
#include "scanner/pe_headers.h"

namespace {

class CMemoryRepairFile : public CRepairFile {
public:
    explicit CMemoryRepairFile(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
    uint64_t Size() override { return bytes.size(); }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (offset >= bytes.size()) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, bytes.size() - offset));
        std::memcpy(buffer, bytes.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) override {
        // A write reaching past the end would grow the file.
        if (offset > bytes.size() || count > bytes.size() - offset) std::abort();
        if (count != 0) std::memcpy(bytes.data() + offset, buffer, count);
        return static_cast<int64_t>(count);
    }
    std::vector<uint8_t> bytes;
};

// The header work area the file scan fills from `file`: DOS header, NT
// headers (as much of the PE32+ size as the file holds), and the section
// headers read whole from after the optional header.
void ReadHeadersLikeTheScan(const std::vector<uint8_t>& file, ExecutableHeaders& headers,
                            std::vector<uint8_t>& table) {
    if (file.empty()) return;
    std::memcpy(headers.dosHeader, file.data(), std::min(file.size(), pe::kDosHeaderSize));
    const uint64_t e = pe::Read32(headers.dosHeader + 60);
    if (e >= file.size()) return;
    std::memcpy(headers.ntHeaders, file.data() + e, std::min<uint64_t>(pe::kNtHeadersMaxSize, file.size() - e));
    const uint64_t at = e + 24 + pe::Read16(headers.ntHeaders + 20);
    if (at >= file.size()) return;
    const uint64_t bytes = std::min<uint64_t>(pe::Read16(headers.ntHeaders + 6) * pe::kSectionHeaderSize, file.size() - at);
    table.assign(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + bytes));
    headers.sectionTable = table.data();
    headers.sectionCount = static_cast<uint32_t>(bytes / pe::kSectionHeaderSize);
}

void HeadersFromInput(const std::vector<uint8_t>& area, ExecutableHeaders& headers, std::vector<uint8_t>& table) {
    std::size_t at = 0;
    auto take = [&](uint8_t* to, std::size_t count) {
        const std::size_t n = std::min(count, area.size() - at);
        if (n != 0) std::memcpy(to, area.data() + at, n);
        at += n;
    };
    take(headers.dosHeader, sizeof headers.dosHeader);
    take(headers.ntHeaders, sizeof headers.ntHeaders);
    table.assign(area.begin() + static_cast<std::ptrdiff_t>(at), area.end());
    headers.sectionTable = table.data();
    headers.sectionCount = static_cast<uint32_t>(table.size() / pe::kSectionHeaderSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    const uint8_t mode = in.U8();
    ExecutableHeaders headers;
    std::vector<uint8_t> table;
    std::vector<uint8_t> original;
    if (mode % 2 == 0) {
        original = in.Rest();
        ReadHeadersLikeTheScan(original, headers, table);
    } else {
        HeadersFromInput(in.Bytes(in.U16()), headers, table);
        original = in.Rest();
    }

    const uint64_t o = StanitEntryOffset(headers);
    const int32_t unopened = RepairStanitFile(nullptr, headers);
    if (unopened != (o == stanit::kDropperEntryOffset ? kStanitDropper : kStanitNotOpened)) std::abort();

    CMemoryRepairFile file(original);
    const int32_t result = RepairStanitFile(&file, headers);
    const std::vector<uint8_t>& now = file.bytes;
    if (now.size() != original.size()) std::abort();

    const uint64_t length = original.size();
    const bool infected = o != stanit::kDropperEntryOffset && o <= length && length - o >= stanit::kEntryCodeSize &&
                          original[o] == 0x52 && original[o + 1] == 0x60 && original[o + 2] == 0xB9 &&
                          original[o + 7] == 0xE8;
    if (!infected) {
        if (now != original) std::abort();
        if (o == stanit::kDropperEntryOffset ? result != kStanitDropper
                                             : result != kStanitRepaired && result != kStanitIoFailed) {
            std::abort();
        }
        return 0;
    }

    const uint64_t field = static_cast<uint64_t>(pe::Read32(headers.dosHeader + 60)) + 40;
    if (field > length || length - field < 4) {
        // Nowhere to put the entry point back: the file stays as it was.
        if (result != kStanitIoFailed || now != original) std::abort();
        return 0;
    }
    const uint64_t zeroEnd = o + std::min<uint64_t>(stanit::kVirusCodeSize, length - o);
    for (uint64_t i = 0; i < length; ++i) {
        uint8_t want = original[i];
        if (i >= o && i < zeroEnd) {
            want = 0;
        } else if (i >= field && i < field + 4) {
            want = original[o + 3 + (i - field)];
        }
        if (now[i] != want) std::abort();
    }
    const uint64_t trail = o + stanit::kTrailOffset;
    const bool overwritten = trail <= length && length - trail >= stanit::kTrailSize &&
                             std::any_of(now.begin() + static_cast<std::ptrdiff_t>(trail),
                                         now.begin() + static_cast<std::ptrdiff_t>(trail + stanit::kTrailSize),
                                         [](uint8_t b) { return b != 0; });
    if (result != (overwritten ? kStanitHostOverwritten : kStanitRepaired)) std::abort();
    return 0;
}
