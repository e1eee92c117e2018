// Hexadecimal codecs of signature text and record text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Modes shared by both codecs.
constexpr int kHexEncode = 1;  // bytes -> upper-case digits, high digit first
constexpr int kHexDecode = 2;  // 8-bit digit text -> bytes

// Strict codec. Returns 0 on success, -1 on failure; on failure `out` is
// empty and `outCount` 0.
//   Encode: `out` holds 2 x `count` digits and a NUL; `outCount` = 2 x `count`.
//   Decode: `out` and `outCount` are `count` / 2 bytes; CR, LF, tab and space
//   are skipped, as is a digit followed by one of them; a lone last digit is
//   dropped; any other non-digit fails. Bytes that no pair fills stay 0.
// Any other mode fails.
int HexCodec(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out,
             std::size_t& outCount, int mode);

// As HexCodec, but decoding never fails: a bad character is reported as
// "bad character 0x%02X encountered at position %d, skipping\n" (the character
// sign-extended, position from 1) and skipped together with the rest of its
// pair. An allocation failure ("not enough memory\n") or an unknown mode
// ("unknown mode: %d\n") ends the process with exit code -1.
// Messages go to `errors`; null keeps them quiet.
int HexCodecLenient(const uint8_t* input, std::size_t count, std::vector<uint8_t>& out,
                    std::size_t& outCount, int mode, std::FILE* errors = stderr);
