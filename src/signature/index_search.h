// Search kernels of CSignatureIndex (internal to src/signature).
//
// Each kernel reports the positions p whose word (byte p low, p + 1 high)
// may be an occupied anchor word of one kind, in increasing order, to
// WalkBucket, which does the exact walk. The vector kernels classify bytes
// through nibble tables: for each of 8 groups of anchor words, bit g of
//   t0[lo(b[p])] & t1[hi(b[p])] & t2[lo(b[p+1])] & t3[hi(b[p+1])]
// is set when each nibble occurs at its place in some word of group g; a set
// bit is only a candidate, confirmed by the exact word table. Three tables are
// tested first, 64 positions at a time; the fourth only where they pass (the
// AVX-512BW kernel tests all four at once, 128 positions a step).
#pragma once

#include <cstddef>
#include <cstdint>

#include "signature/signature_index.h"

struct SearchKind;
using SearchKernel = const SignatureIndexEntry* (*)(const SearchKind& kind, const uint8_t* bytes,
                                                    std::size_t length, std::size_t& start);

struct SearchKind {
    uint8_t kind = 0;  // kMatchesInFiles or kMatchesInMemory
    const SignatureIndexEntry* const* heads = nullptr;
    // 1 for each word whose bucket holds a usable entry of this kind (a byte
    // a word: one load and no bit arithmetic per position).
    uint8_t occupied[65536] = {};
    std::size_t wordCount = 0;
    uint16_t words[16] = {};  // the words, when there are at most 16
    // Nibble tables, each 16 entries twice (one per 128-bit lane of AVX2):
    // low and high nibble of the first byte, low and high nibble of the second.
    uint8_t nibbles[4][32] = {};
    // The high-nibble table tested only where the other three pass: of the
    // first byte (table 1) when true, else of the second (table 3).
    bool secondStageFirstHigh = false;
    double passShare = 1;  // share of ordinary byte pairs all four tables pass
    SearchKernel kernel = nullptr;
    SearchMethod method = SearchMethod::Scalar;

    bool Occupied(unsigned word) const { return occupied[word] != 0; }
};

inline unsigned WordAt(const uint8_t* bytes, std::size_t p) {
    return static_cast<unsigned>(bytes[p]) | static_cast<unsigned>(bytes[p + 1]) << 8;
}

// The exact walk of the bucket of the word at `p` (p + 1 < length).
const SignatureIndexEntry* WalkBucket(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                      std::size_t p, std::size_t& start);

// Word-table checks of the positions from `from` to length - 2.
const SignatureIndexEntry* SearchScalar(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                        std::size_t& start, std::size_t from);

#if defined(__x86_64__) || defined(__i386__)
#define TESMORA_X86_KERNELS 1
// 32-bit Windows starts threads on 4-byte aligned stacks; vector spills need
// more: the kernels realign on entry there.
#if defined(__i386__) && defined(_WIN32)
#define TESMORA_REALIGN __attribute__((force_align_arg_pointer))
#else
#define TESMORA_REALIGN
#endif
const SignatureIndexEntry* SearchSse2(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                      std::size_t& start);
const SignatureIndexEntry* SearchSsse3(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                       std::size_t& start);
const SignatureIndexEntry* SearchAvx2(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                      std::size_t& start);
const SignatureIndexEntry* SearchAvx512bw(const SearchKind& kind, const uint8_t* bytes, std::size_t length,
                                          std::size_t& start);
#endif
