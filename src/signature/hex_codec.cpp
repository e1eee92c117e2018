// Both codecs walk decode text the same way and differ only in what a bad
// character does:
//
//   "0A 1"    strict: 0A (the space ends nothing; the lone last 1 is dropped)
//   "0G1F"    strict: fails at G.  lenient: reports G at position 2, skips
//             "0G", writes 1F into the first byte; out count stays 2.
#include "signature/hex_codec.h"

#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

bool IsBlank(uint8_t c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; }

// Value 0..15 of a digit (either case), or -1.
int DigitValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') c = static_cast<uint8_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Allocate(std::vector<uint8_t>& out, std::size_t n) {
    try {
        out.assign(n, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

bool Encode(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out, std::size_t& outCount) {
    static const char kDigits[] = "0123456789ABCDEF";
    // A count whose text length does not fit in size_t cannot be allocated.
    if (count > (std::numeric_limits<std::size_t>::max() - 1) / 2 || !Allocate(out, 2 * count + 1)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = static_cast<uint8_t>(kDigits[input[i] >> 4]);
        out[2 * i + 1] = static_cast<uint8_t>(kDigits[input[i] & 15]);
    }
    out[2 * count] = 0;
    outCount = 2 * count;
    return true;
}

void ReportBadCharacter(std::FILE* errors, uint8_t c, std::size_t position) {
    if (errors == nullptr) return;
    std::fprintf(errors, "bad character 0x%02X encountered at position %d, skipping\n",
                 static_cast<unsigned>(static_cast<int>(static_cast<int8_t>(c))), static_cast<int>(position));
}

// Decodes into `out` (already `count` / 2 zero bytes). Strict: false at the
// first bad character. Lenient: reports it to `errors` and goes on.
bool Decode(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out, bool lenient, std::FILE* errors) {
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < count) {
        const uint8_t c = input[i];
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        const int high = DigitValue(c);
        if (high < 0) {
            if (!lenient) return false;
            ReportBadCharacter(errors, c, i + 1);
            ++i;
            continue;
        }
        if (i + 1 == count) break;
        const uint8_t d = input[i + 1];
        if (IsBlank(d)) {
            i += 2;
            continue;
        }
        const int low = DigitValue(d);
        if (low < 0) {
            if (!lenient) return false;
            ReportBadCharacter(errors, d, i + 2);
            i += 2;
            continue;
        }
        out[o++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    return true;
}

}  // namespace

int HexCodec(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out, std::size_t& outCount, int mode) {
    out.clear();
    outCount = 0;
    bool ok = false;
    if (mode == kHexEncode) {
        ok = Encode(input, count, out, outCount);
    } else if (mode == kHexDecode) {
        ok = Allocate(out, count / 2) && Decode(input, count, out, false, nullptr);
        if (ok) outCount = count / 2;
    }
    if (!ok) {
        out.clear();
        outCount = 0;
        return -1;
    }
    return 0;
}

int HexCodecLenient(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out, std::size_t& outCount,
                    int mode, std::FILE* errors) {
    out.clear();
    outCount = 0;
    if (mode == kHexEncode) {
        if (!Encode(input, count, out, outCount)) {
            if (errors != nullptr) std::fputs("not enough memory\n", errors);
            std::exit(-1);
        }
        return 0;
    }
    if (mode != kHexDecode) {
        if (errors != nullptr) std::fprintf(errors, "unknown mode: %d\n", mode);
        std::exit(-1);
    }
    if (!Allocate(out, count / 2)) {
        if (errors != nullptr) std::fputs("not enough memory\n", errors);
        std::exit(-1);
    }
    Decode(input, count, out, true, errors);
    outCount = count / 2;
    return 0;
}
