#include "scanner/pe_headers.h"

uint32_t RvaToFileOffset(uint32_t sectionCount, const uint8_t* sectionTable, uint32_t rva) {
    if (sectionTable == nullptr) return 0;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const pe::SectionView s{sectionTable + static_cast<std::size_t>(i) * pe::kSectionHeaderSize};
        const uint64_t va = s.VirtualAddress();
        if (rva < va) continue;
        // 64-bit sums: a hostile header must not wrap around.
        if (rva < va + s.VirtualSize() || rva < va + s.SizeOfRawData()) {
            return s.PointerToRawData() - s.VirtualAddress() + rva;
        }
    }
    return 0;
}
