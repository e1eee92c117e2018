// Executable-file headers as the scanners and the W32/Stanit repair share them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pe {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNtHeadersSize = 248;      // signature, file header, PE32 optional header
constexpr std::size_t kNtHeadersMaxSize = 264;   // the same with a PE32+ optional header
constexpr std::size_t kSectionHeaderSize = 40;

inline uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Fields of one 40-byte section header.
struct SectionView {
    const uint8_t* header;
    uint32_t VirtualSize() const { return Read32(header + 8); }
    uint32_t VirtualAddress() const { return Read32(header + 12); }
    uint32_t SizeOfRawData() const { return Read32(header + 16); }
    uint32_t PointerToRawData() const { return Read32(header + 20); }
};

}  // namespace pe

// File offset of the relative virtual address `rva`: the first section in
// table order that holds it (within its virtual size, or else within its raw
// size) maps it; 0 when no section does. `sectionTable` holds `sectionCount`
// headers of 40 bytes.
uint32_t RvaToFileOffset(uint32_t sectionCount, const uint8_t* sectionTable, uint32_t rva);

// The executable-header work area: the headers of the file the scan is at,
// and the offset of the last signature match in it.
struct ExecutableHeaders {
    uint8_t dosHeader[pe::kDosHeaderSize] = {};
    uint8_t ntHeaders[pe::kNtHeadersMaxSize] = {};
    const uint8_t* sectionTable = nullptr;  // owned by the scan that read it; null between files
    uint32_t sectionCount = 0;
    uint32_t matchOffset = 0;
};
