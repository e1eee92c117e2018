// A signature of bytes 4D 5A 90 00 ... (32 or more) becomes the record
//   head 4D 5A 90 00 03 | anchor word | length | anchor offset | CRC of bytes 5..
// where the anchor is the first pair of adjacent bytes that g_wordFrequency
// rates rarest; the index files the record under that word.
#include "signature/signature.h"

#include <vector>

#include "signature/hex_codec.h"

namespace {

struct CrcTable {
    uint32_t entries[256];
    constexpr CrcTable() : entries() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i;
            for (int bit = 0; bit < 8; ++bit) r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
            entries[i] = r;
        }
    }
};
constexpr CrcTable kCrcTable;

}  // namespace

uint32_t SignatureCrc(uint32_t initial, const uint8_t* bytes, std::size_t count) {
    uint32_t r = initial;
    for (std::size_t i = 0; i < count; ++i) r = kCrcTable.entries[(r ^ bytes[i]) & 0xFF] ^ (r >> 8);
    return r;
}

std::size_t FindAnchorWord(const uint8_t* bytes, std::size_t count) {
    std::size_t best = 0;
    uint32_t bestFrequency = UINT32_MAX;
    for (std::size_t p = 0; p + 1 < count; ++p) {
        const uint32_t f = g_wordFrequency[bytes[p] | bytes[p + 1] << 8];
        if (f < bestFrequency) {
            bestFrequency = f;
            best = p;
        }
    }
    return best;
}

CSignature::CSignature(const uint8_t head[kSignatureHeadSize], uint16_t anchorWord, uint16_t length,
                       uint16_t anchorOffset, uint32_t crc) {
    std::memcpy(bytes_, head, kSignatureHeadSize);
    const uint16_t words[3] = {anchorWord, length, anchorOffset};
    for (int i = 0; i < 3; ++i) {
        bytes_[5 + 2 * i] = static_cast<uint8_t>(words[i]);
        bytes_[6 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
    }
    for (int i = 0; i < 4; ++i) bytes_[11 + i] = static_cast<uint8_t>(crc >> (8 * i));
}

CSignature CSignature::FromBytes(const uint8_t* bytes) {
    CSignature s;
    std::memcpy(s.bytes_, bytes, kSize);
    return s;
}

std::optional<CSignature> MakeSignatureRecord(const uint8_t* bytes, std::size_t count) {
    if (count < kMinSignatureBytes || count > UINT16_MAX) return std::nullopt;
    const std::size_t anchor = FindAnchorWord(bytes, count);
    return CSignature(bytes, static_cast<uint16_t>(bytes[anchor] | bytes[anchor + 1] << 8),
                      static_cast<uint16_t>(count), static_cast<uint16_t>(anchor),
                      SignatureCrc(kSignatureCrcInit, bytes + kSignatureHeadSize, count - kSignatureHeadSize));
}

std::optional<std::string> BuildSignatureRecord(std::optional<std::string_view> hex) {
    if (!hex || hex->size() > kMaxSignatureDigits) return std::nullopt;
    std::vector<uint8_t> bytes;
    std::size_t count = 0;
    if (HexCodec(reinterpret_cast<const uint8_t*>(hex->data()), hex->size(), bytes, count, kHexDecode) != 0) {
        return std::nullopt;
    }
    const std::optional<CSignature> record = MakeSignatureRecord(bytes.data(), count);
    if (!record) return std::nullopt;
    std::vector<uint8_t> text;
    std::size_t digits = 0;
    if (HexCodec(record->Bytes(), CSignature::kSize, text, digits, kHexEncode) != 0) return std::nullopt;
    return std::string(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(digits));
}
