#include "signature/signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signature/hex_codec.h"
#include "signature/index_fixtures.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> text;
    size_t count = 0;
    EXPECT_EQ(0, HexCodec(bytes.data(), bytes.size(), text, count, kHexEncode));
    return std::string(text.begin(), text.begin() + count);
}

TEST(SignatureCrcTest, KnownValues) {
    static const struct {
        const char* in;
        uint32_t initial;
        uint32_t crc;
    } kCases[] = {
        {"", 0x04C11DB7, 0x04C11DB7},
        {"abc", 0x04C11DB7, 0x197BEE7B},
        // With the usual start and final inversion done by hand: the CRC-32 check value.
        {"123456789", 0xFFFFFFFF, ~0xCBF43926u},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(c.crc, SignatureCrc(c.initial, reinterpret_cast<const uint8_t*>(c.in), std::strlen(c.in)));
    }
    const std::vector<uint8_t> random = CRandom(1).Bytes(1000);
    EXPECT_EQ(BitwiseCrc(kSignatureCrcInit, random.data(), random.size()),
              SignatureCrc(kSignatureCrcInit, random.data(), random.size()));
}

TEST(WordFrequencyTest, TableShape) {
    uint64_t sum = 0;
    unsigned smallest = 0;
    unsigned largest = 0;
    for (unsigned w = 0; w < 65536; ++w) {
        EXPECT_GT(g_wordFrequency[w], 0u);
        sum += g_wordFrequency[w];
        if (w != 0xC0AB) {
            EXPECT_GT(g_wordFrequency[w], 30701u) << w;
        }
        if (g_wordFrequency[w] < g_wordFrequency[smallest]) smallest = w;
        if (g_wordFrequency[w] > g_wordFrequency[largest]) largest = w;
    }
    EXPECT_EQ(3869905018u, sum);
    EXPECT_EQ(0xC0ABu, smallest);
    EXPECT_EQ(0x0000u, largest);
    static const struct {
        unsigned word;
        uint32_t frequency;
    } kRows[] = {
        {0x0000, 236989590}, {0xFFFF, 26451255}, {0x0065, 18193732}, {0x2020, 8986093},
        {0x9090, 1055994},   {0x5A4D, 47273},    {0xC0AB, 30701},
    };
    for (const auto& r : kRows) EXPECT_EQ(r.frequency, g_wordFrequency[r.word]) << r.word;
}

TEST(FindAnchorWordTest, RarestPairFirstOffsetBreaksTies) {
    static const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t anchor;
    } kCases[] = {
        {"no pair", {0xAB}, 0},
        {"empty", {}, 0},
        {"rarest pair first", {0xAB, 0xC0, 0x00, 0x00}, 0},
        {"rarest pair inside", {0x00, 0x00, 0x4D, 0x5A, 0x00}, 2},
        {"the rarest of two", {0x4D, 0x5A, 0xAB, 0xC0, 0x4D, 0x5A}, 2},
        {"tie: the first", {0x00, 0x4D, 0x5A, 0x00, 0x4D, 0x5A}, 1},
        {"all equal", {0x00, 0x00, 0x00, 0x00}, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.anchor, FindAnchorWord(c.bytes.data(), c.bytes.size()));
    }
    // Against a direct search for the first minimum over random bytes.
    const std::vector<uint8_t> random = CRandom(2).Bytes(500);
    size_t best = 0;
    for (size_t p = 1; p + 1 < random.size(); ++p) {
        if (g_wordFrequency[random[p] | random[p + 1] << 8] < g_wordFrequency[random[best] | random[best + 1] << 8]) {
            best = p;
        }
    }
    EXPECT_EQ(best, FindAnchorWord(random.data(), random.size()));
}

TEST(CSignatureTest, PackedLittleEndianFields) {
    uint8_t raw[15];
    for (int i = 0; i < 15; ++i) raw[i] = static_cast<uint8_t>(0x10 + i);
    const CSignature s = CSignature::FromBytes(raw);
    EXPECT_EQ(0, std::memcmp(raw, s.Head(), 5));
    EXPECT_EQ(0x1615, s.AnchorWord());
    EXPECT_EQ(0x1817, s.Length());
    EXPECT_EQ(0x1A19, s.AnchorOffset());
    EXPECT_EQ(0x1E1D1C1Bu, s.Crc());
    const CSignature rebuilt(s.Head(), s.AnchorWord(), s.Length(), s.AnchorOffset(), s.Crc());
    EXPECT_EQ(0, std::memcmp(raw, rebuilt.Bytes(), 15));
    const CSignature none;
    EXPECT_EQ(0, none.Length());
    EXPECT_EQ(0u, none.Crc());
}

TEST(BuildSignatureRecordTest, RecordFields) {
    std::vector<uint8_t> bytes = CRandom(3).Bytes(40);
    for (auto& b : bytes) b &= 0x7F;  // no AB C0 pair but the one placed
    bytes[7] = 0xAB;
    bytes[8] = 0xC0;
    const auto text = BuildSignatureRecord(Hex(bytes));
    ASSERT_TRUE(text.has_value());
    std::vector<uint8_t> want(bytes.begin(), bytes.begin() + 5);
    const uint32_t crc = BitwiseCrc(kSignatureCrcInit, bytes.data() + 5, bytes.size() - 5);
    const uint8_t rest[] = {0xAB, 0xC0, 40, 0, 7, 0, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                            static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)};
    want.insert(want.end(), rest, rest + sizeof rest);
    EXPECT_EQ(Hex(want), *text);
}

TEST(BuildSignatureRecordTest, Limits) {
    static const struct {
        const char* what;
        size_t digits;
        bool record;
    } kCases[] = {
        {"31 bytes", 62, false},
        {"32 bytes", 64, true},
        {"32 bytes and a lone digit", 65, true},
        {"4,096 bytes", 8192, true},
        {"8,193 digits", 8193, false},
        {"8,194 digits", 8194, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> bytes = CRandom(c.digits).Bytes(c.digits / 2 + 1);
        const std::string hex = Hex(bytes).substr(0, c.digits);
        const auto text = BuildSignatureRecord(hex);
        EXPECT_EQ(c.record, text.has_value());
        if (text) {
            EXPECT_EQ(30u, text->size());
            EXPECT_EQ(std::string::npos, text->find_first_not_of("0123456789ABCDEF"));
        }
    }
    EXPECT_FALSE(BuildSignatureRecord(std::nullopt).has_value());
    EXPECT_FALSE(BuildSignatureRecord(std::string(64, 'G')).has_value());
    // Blanks count towards the 8,192 characters and the decoded length.
    EXPECT_TRUE(BuildSignatureRecord(std::string(62, 'A') + "  ").has_value());
}

}  // namespace
