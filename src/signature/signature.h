// Signature records: the 15-byte summary of a signature that the index
// searches for, with its CRC and anchor word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

constexpr uint32_t kSignatureCrcInit = 0x04C11DB7;
constexpr std::size_t kSignatureHeadSize = 5;
constexpr std::size_t kMinSignatureBytes = 32;
constexpr std::size_t kMaxSignatureDigits = 8192;

// Byte-pair frequencies of ordinary data, indexed by the word whose low byte
// is the first of the two bytes; smaller is rarer. All entries are above 0.
extern const uint32_t g_wordFrequency[65536];

// Reflected CRC-32 (table of polynomial 0xEDB88320) with no inversion at
// either end: register = table[(register ^ b) & 0xFF] ^ (register >> 8).
uint32_t SignatureCrc(uint32_t initial, const uint8_t* bytes, std::size_t count);

// Offset of the first rarest adjacent byte pair of `bytes` by
// g_wordFrequency; 0 when `count` is below 2.
std::size_t FindAnchorWord(const uint8_t* bytes, std::size_t count);

// The packed record: head (5 bytes), anchor word, length, anchor offset (2
// bytes each) and CRC (4 bytes), little-endian, no padding. All zero stands
// for no signature.
class CSignature {
public:
    static constexpr std::size_t kSize = 15;

    CSignature() = default;
    CSignature(const uint8_t head[kSignatureHeadSize], uint16_t anchorWord, uint16_t length,
               uint16_t anchorOffset, uint32_t crc);
    // The record stored in `bytes` (kSize bytes).
    static CSignature FromBytes(const uint8_t* bytes);

    const uint8_t* Head() const { return bytes_; }
    uint16_t AnchorWord() const { return Read16(5); }
    uint16_t Length() const { return Read16(7); }
    uint16_t AnchorOffset() const { return Read16(9); }
    uint32_t Crc() const {
        return static_cast<uint32_t>(bytes_[11]) | static_cast<uint32_t>(bytes_[12]) << 8 |
               static_cast<uint32_t>(bytes_[13]) << 16 | static_cast<uint32_t>(bytes_[14]) << 24;
    }
    const uint8_t* Bytes() const { return bytes_; }

    bool operator==(const CSignature& other) const { return std::memcmp(bytes_, other.bytes_, kSize) == 0; }

private:
    uint16_t Read16(std::size_t at) const {
        return static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
    }

    uint8_t bytes_[kSize] = {};
};
static_assert(sizeof(CSignature) == CSignature::kSize, "the record is 15 packed bytes");

// Record of the signature `bytes`, or none when it is shorter than 32 bytes
// or longer than a record can describe (65,535 bytes).
std::optional<CSignature> MakeSignatureRecord(const uint8_t* bytes, std::size_t count);

// Record of the hexadecimal signature text `hex` as 30 upper-case digits, or
// none: no text, more than 8,192 characters, text the strict codec rejects,
// or fewer than 32 bytes.
std::optional<std::string> BuildSignatureRecord(std::optional<std::string_view> hex);
