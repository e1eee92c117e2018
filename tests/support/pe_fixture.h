// Harmless synthetic PE files for tests: headers, sections and planted bytes
// chosen by the test. A runnable fixture only sleeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FixtureSection {
    std::string name = ".data";
    std::vector<uint8_t> data;     // raw data; padded with zeros to rawSize
    uint32_t rawSize = 0;          // 0: data's size rounded up to 512
    uint32_t virtualSize = 0;      // 0: the raw size
    uint32_t characteristics = 0xC0000040;
};

struct FixturePlan {
    bool pe32plus = false;
    bool dll = false;
    // Adds a code section whose entry code sleeps forever (through an import
    // of Sleep from KERNEL32.dll), so that the file runs harmlessly.
    bool runnable = false;
    std::vector<FixtureSection> sections;
    // Entry point RVA; 0 means the start of the first section (or of the
    // sleeping code of a runnable fixture).
    uint32_t entryPoint = 0;
};

struct FixtureLayout {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> sectionOffsets;  // file offset of each of plan.sections
    std::vector<uint32_t> sectionRvas;
    uint32_t ntHeadersOffset = 0;
    uint32_t sectionTableOffset = 0;
};

FixtureLayout BuildPe(const FixturePlan& plan);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> FixtureBytes(uint32_t seed, std::size_t count);

// Bytes of `length` that match a signature record given by its fields: the
// head, the anchor word at the anchor offset, the rest pseudo-random, with
// four bytes fixed so that the CRC (initial 0x04C11DB7, bytes 5 to the end)
// comes out as `crc`.
std::vector<uint8_t> ForgeSignatureBytes(const uint8_t head[5], uint16_t anchorWord, uint32_t length,
                                         uint32_t anchorOffset, uint32_t crc, uint32_t seed = 1);

// Decoded bytes of hexadecimal text.
std::vector<uint8_t> FromHex(const std::string& hex);

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
