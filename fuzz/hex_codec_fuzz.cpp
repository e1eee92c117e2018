// Arbitrary bytes through the hexadecimal codecs: decoding an encoding gives
// the bytes back, the lenient codec never fails on any text, and where the
// strict codec succeeds the lenient one agrees with it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "signature/hex_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text;
    size_t textCount = 0;
    if (HexCodec(data, size, text, textCount, kHexEncode) != 0 || textCount != 2 * size || text[textCount] != 0) {
        std::abort();
    }
    std::vector<uint8_t> back;
    size_t backCount = 0;
    if (HexCodec(text.data(), textCount, back, backCount, kHexDecode) != 0 || backCount != size ||
        std::vector<uint8_t>(data, data + size) != back) {
        std::abort();
    }

    std::vector<uint8_t> lenient;
    size_t lenientCount = 0;
    if (HexCodecLenient(data, size, lenient, lenientCount, kHexDecode, nullptr) != 0 || lenientCount != size / 2 ||
        lenient.size() != size / 2) {
        std::abort();
    }
    std::vector<uint8_t> strict;
    size_t strictCount = 0;
    const int result = HexCodec(data, size, strict, strictCount, kHexDecode);
    if (result == 0 ? strict != lenient : (strictCount != 0 || !strict.empty())) std::abort();
    return 0;
}
