#include "scanner/pe_headers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A section header with the four fields the mapping reads.
std::vector<uint8_t> Sections(std::initializer_list<std::array<uint32_t, 4>> list) {
    std::vector<uint8_t> table;
    for (const auto& s : list) {
        uint8_t h[40] = {};
        const uint32_t fields[4] = {s[0], s[1], s[2], s[3]};  // virtual size, address, raw size, raw pointer
        for (int f = 0; f < 4; ++f) {
            for (int b = 0; b < 4; ++b) h[8 + 4 * f + b] = static_cast<uint8_t>(fields[f] >> (8 * b));
        }
        table.insert(table.end(), h, h + 40);
    }
    return table;
}

TEST(RvaToFileOffsetTest, FirstSectionHoldingTheAddressMapsIt) {
    const auto t = Sections({{0x1000, 0x1000, 0x800, 0x400},      // .text: raw smaller than virtual
                             {0x100, 0x3000, 0x400, 0x1000},      // raw larger than virtual
                             {0x2000, 0x3000, 0x2000, 0x5000},    // overlaps the second
                             {0xFFFFFFFF, 0xF0000000, 0, 0x9000}}); // would wrap in 32 bits
    const struct {
        uint32_t rva, offset;
    } cases[] = {
        {0x0FFF, 0},                // before every section
        {0x1000, 0x400},            // first byte
        {0x1FFF, 0x13FF},           // last byte of the virtual size
        {0x2000, 0},                // between sections
        {0x3000, 0x1000},           // the earlier of two overlapping sections wins
        {0x3300, 0x1300},           // past the virtual size, inside the raw size
        {0x3500, 0x5500},           // only the third section reaches here
        {0xF0000010, 0x9010},       // no wrap-around of address + size
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.offset, RvaToFileOffset(4, t.data(), c.rva)) << std::hex << c.rva;
    }
    EXPECT_EQ(0u, RvaToFileOffset(0, t.data(), 0x1000));
    EXPECT_EQ(0u, RvaToFileOffset(4, nullptr, 0x1000));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A real PE file: the export directory's own name, reached through the
// mapping, reads as the library's name.
TEST(RvaToFileOffsetTest, FindsTheExportNameOfARealLibrary) {
    const std::string path = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll";
    const std::vector<uint8_t> file = ReadFile(path);
    if (file.empty()) GTEST_SKIP() << path << " is not installed";
    ASSERT_GT(file.size(), 0x400u);
    const uint32_t e = pe::Read32(&file[0x3C]);
    ASSERT_EQ(0x00004550u, pe::Read32(&file[e]));
    const uint16_t sectionCount = pe::Read16(&file[e + 6]);
    const uint16_t optionalSize = pe::Read16(&file[e + 20]);
    const uint8_t* optional = &file[e + 24];
    const bool pe32plus = pe::Read16(optional) == 0x20B;
    const uint32_t exportRva = pe::Read32(optional + (pe32plus ? 112 : 96));
    const uint8_t* sections = optional + optionalSize;

    const uint32_t exportOffset = RvaToFileOffset(sectionCount, sections, exportRva);
    ASSERT_NE(0u, exportOffset);
    ASSERT_LT(exportOffset + 16u, file.size());
    const uint32_t nameOffset = RvaToFileOffset(sectionCount, sections, pe::Read32(&file[exportOffset + 12]));
    ASSERT_LT(nameOffset + 12u, file.size());
    EXPECT_STRCASEEQ("kernel32.dll", reinterpret_cast<const char*>(&file[nameOffset]));
}

}  // namespace
