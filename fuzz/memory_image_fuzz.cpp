// Arbitrary bytes as a module in another process: its image as the process
// holds it, the first bytes of its file, its base and reported size. Goes
// the way the memory scan goes: header probe, scan size, block walk and the
// relocation table of a relocated DLL, with every read of the image checked
// to stay inside the size the scan settled on.
//
// Input: base (8 bytes), reported size (4), query offset (4) and length (2),
// file head length (2), file head, then the image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "scanner/memory_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    const uint64_t base = in.U64();
    const uint32_t reported = in.U32();
    const uint32_t queryOffset = in.U32();
    const uint16_t queryLength = in.U16();
    const std::vector<uint8_t> fileHead = in.Bytes(in.U16());
    const std::vector<uint8_t> image = in.Rest();

    // The header probe reads at most 4,096 bytes of the image and of the file;
    // each is checked in a buffer of its exact length.
    const std::vector<uint8_t> probe(image.begin(), image.begin() + std::min<std::size_t>(image.size(), memscan::kHeaderProbeSize));
    const uint32_t memorySize = memscan::HeaderImageSize(probe.data(), probe.size());
    // Whole headers stay whole, with the same size, in a longer range.
    if (memorySize != 0 && memscan::HeaderImageSize(image.data(), image.size()) != memorySize) std::abort();
    const uint32_t fileSize = memscan::HeaderImageSize(fileHead.data(), fileHead.size());

    const uint64_t scanSize = memscan::ScanSize(reported, memorySize, fileSize);
    if (reported != 0 && scanSize > reported) std::abort();
    if (memorySize != 0 && memorySize == reported && scanSize != reported) std::abort();
    if (scanSize != 0 && scanSize != reported && scanSize != fileSize) std::abort();

    // The blocks cover [0, scanSize) in order, each overlapping the one before by 1,024 bytes.
    uint64_t expected = 0, end = 0;
    for (memscan::CBlockWalk walk(scanSize); !walk.Done(); walk.Next()) {
        if (walk.Offset() != expected || walk.Length() == 0 || walk.Length() > memscan::kBlockSize ||
            walk.Offset() + walk.Length() > scanSize) {
            std::abort();
        }
        end = walk.Offset() + walk.Length();
        expected += memscan::kBlockStep;
    }
    if (end != scanSize) std::abort();

    // The image lies at `base`; reads beyond its bytes fail as unreadable memory.
    const CRelocationTable::Reader read = [&](uint64_t address, uint8_t* buffer, std::size_t count) {
        const uint64_t offset = address - base;
        if (offset >= scanSize || count > scanSize - offset) std::abort();  // outside the module
        if (offset >= image.size() || count > image.size() - offset) return false;
        std::memcpy(buffer, image.data() + offset, count);
        return true;
    };
    CRelocationTable table;
    const bool present = table.Build(read, base, scanSize);
    if (present != table.Present()) std::abort();
    const std::vector<uint64_t>& fixups = table.Addresses();
    if (present) {
        if (table.PreferredBase() == base) std::abort();  // only a DLL away from its preferred base
        // At most one fixup per two bytes of the directory, which the image holds.
        if (fixups.size() > image.size() / 2) std::abort();
        if (!std::is_sorted(fixups.begin(), fixups.end())) std::abort();
        // Page RVA (32 bits) plus a 12-bit offset from the base.
        for (const uint64_t a : fixups) {
            if (a - base > 0xFFFFFFFFull + 0xFFF) std::abort();
        }
    } else if (!fixups.empty()) {
        std::abort();
    }

    // The fixups in a range are exactly those the range holds.
    const uint64_t from = base + queryOffset;
    if (from >= base && queryLength != 0 && from + queryLength > from) {
        const auto [first, last] = table.FixupsIn(from, queryLength);
        if (first > last || last > fixups.size()) std::abort();
        for (std::size_t i = 0; i < fixups.size(); ++i) {
            const bool inside = fixups[i] >= from && fixups[i] - from < queryLength;
            if (inside != (i >= first && i < last)) std::abort();
        }
    }
    if (table.FixupsIn(from, 0) != std::pair<std::size_t, std::size_t>(0, 0)) std::abort();

    // A second build over the same image gives the same table.
    CRelocationTable again;
    if (again.Build(read, base, scanSize) != present || again.Addresses() != fixups) std::abort();
    table.Clear();
    if (table.Present() || table.PreferredBase() != 0) std::abort();
    return 0;
}
