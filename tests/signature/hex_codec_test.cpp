#include "signature/hex_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "signature/index_fixtures.h"

namespace {

const uint8_t* Text(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

struct Decoded {
    int result = 0;
    std::vector<uint8_t> bytes;
    size_t count = 0;
    std::string messages;
};

Decoded Decode(const std::string& text, bool lenient) {
    Decoded d;
    d.bytes.assign(3, 0xEE);  // sentinel: must be replaced or cleared
    d.count = 77;
    if (!lenient) {
        d.result = HexCodec(Text(text.data()), text.size(), d.bytes, d.count, kHexDecode);
        return d;
    }
    std::FILE* errors = std::tmpfile();
    d.result = HexCodecLenient(Text(text.data()), text.size(), d.bytes, d.count, kHexDecode, errors);
    std::rewind(errors);
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, errors)) != 0) d.messages.append(buffer, n);
    std::fclose(errors);
    return d;
}

TEST(HexCodecTest, StrictDecoding) {
    static const struct {
        const char* in;
        bool ok;
        std::vector<uint8_t> out;  // count is always in.size() / 2
    } kCases[] = {
        {"", true, {}},
        {"0A1", true, {0x0A}},               // a lone last digit is dropped
        {"0a1B", true, {0x0A, 0x1B}},        // either case
        {"ff00", true, {0xFF, 0x00}},
        {" 0A\r\n1B\t", true, {0x0A, 0x1B, 0, 0}},  // blanks skipped, count stays 4
        {"0 A1B", true, {0xA1, 0}},          // a digit before a blank goes with it
        {"0G", false, {}},
        {"G0", false, {}},
        {"0A-1", false, {}},
        {"0A1G", false, {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.in);
        const Decoded d = Decode(c.in, false);
        EXPECT_EQ(c.ok ? 0 : -1, d.result);
        EXPECT_EQ(c.ok ? std::strlen(c.in) / 2 : 0, d.count);
        EXPECT_EQ(c.out, d.bytes);
    }
}

TEST(HexCodecTest, LenientDecodingReportsAndSkips) {
    static const struct {
        std::string in;
        std::vector<uint8_t> out;
        std::string messages;
    } kCases[] = {
        {"0G1F", {0x1F, 0}, "bad character 0x47 encountered at position 2, skipping\n"},
        {"G01F", {0x01, 0}, "bad character 0x47 encountered at position 1, skipping\n"},  // F is a lone last digit
        {"x 0A", {0x0A, 0}, "bad character 0x78 encountered at position 1, skipping\n"},
        {"0A\xC8Z1B", {0x0A, 0x1B, 0},
         "bad character 0xFFFFFFC8 encountered at position 3, skipping\n"
         "bad character 0x5A encountered at position 4, skipping\n"},
        {"0A1B", {0x0A, 0x1B}, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.in);
        const Decoded d = Decode(c.in, true);
        EXPECT_EQ(0, d.result);
        EXPECT_EQ(c.in.size() / 2, d.count);
        EXPECT_EQ(c.out, d.bytes);
        EXPECT_EQ(c.messages, d.messages);
    }
}

TEST(HexCodecTest, EncodeIsUpperCaseWithNulAndRoundTrips) {
    const uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    std::vector<uint8_t> text;
    size_t count = 0;
    ASSERT_EQ(0, HexCodec(bytes, sizeof bytes, text, count, kHexEncode));
    EXPECT_EQ(8u, count);
    EXPECT_EQ(std::string("009FA0FF", 9), std::string(text.begin(), text.end()));

    for (size_t n : {0, 1, 31, 4096}) {
        const std::vector<uint8_t> original = CRandom(n).Bytes(n);
        ASSERT_EQ(0, HexCodec(original.data(), n, text, count, kHexEncode));
        std::vector<uint8_t> back;
        size_t backCount = 0;
        ASSERT_EQ(0, HexCodec(text.data(), count, back, backCount, kHexDecode));
        EXPECT_EQ(original, back);
        ASSERT_EQ(0, HexCodecLenient(text.data(), count, back, backCount, kHexDecode, nullptr));
        EXPECT_EQ(original, back);
    }
}

TEST(HexCodecTest, StrictFailuresLeaveNothing) {
    static const struct {
        int mode;
        size_t count;
    } kCases[] = {
        {0, 2},
        {3, 2},
        {kHexEncode, std::numeric_limits<size_t>::max() / 2 + 1},  // text length overflows
    };
    const uint8_t in[2] = {'0', '0'};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.mode);
        std::vector<uint8_t> out(4, 0xEE);
        size_t count = 9;
        EXPECT_EQ(-1, HexCodec(in, c.count, out, count, c.mode));
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(0u, count);
    }
}

TEST(HexCodecDeathTest, LenientEndsTheProcessOnUnknownModeOrNoMemory) {
    const uint8_t in[2] = {'0', '0'};
    std::vector<uint8_t> out;
    size_t count = 0;
    EXPECT_EXIT(HexCodecLenient(in, 2, out, count, 3), testing::ExitedWithCode(255), "^unknown mode: 3\n$");
    EXPECT_EXIT(HexCodecLenient(in, std::numeric_limits<size_t>::max() / 2 + 1, out, count, kHexEncode),
                testing::ExitedWithCode(255), "^not enough memory\n$");
}

}  // namespace
