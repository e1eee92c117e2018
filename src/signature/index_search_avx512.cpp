// AVX-512BW kernel of the signature index (index_search.h): the nibble tables
// of the AVX2 kernel over 64 positions a register, 128 a step.
//
// Unlike the narrower kernels it looks up all four tables at every step: a
// branch on the first three mispredicts more often than a fourth shuffle
// costs. Its loads are whole aligned cache lines, each byte looked up once as
// a first and once as a second byte; the second-byte results move down one
// position in registers (a load at p + 1 would split a line every time). The
// first and last positions of a range are read through masked loads, which
// touch no byte outside it.
//
// The vector code calls nothing: it returns the first 64 positions whose
// candidates include an occupied word, and the walk runs in the caller. No
// vector register lives across a call, so nothing is spilled to the stack
// (GCC for Windows cannot align the stack for 64-byte spills); Windows builds
// also assemble this file with -Wa,-muse-unaligned-vector-move.
#include "signature/index_search.h"

#if defined(TESMORA_X86_KERNELS)

#include <immintrin.h>

#include <algorithm>

#define TESMORA_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace {

struct Tables {
    __m512i t0, t1, t2, t3;
};

// The 16 entries of a nibble table in each 128-bit lane. (The zero-masking
// forms here and below spare GCC 12's headers an uninitialized operand.)
TESMORA_AVX512 inline __m512i Broadcast(const uint8_t* table) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

// The 64 bytes of `a` moved down one position, the first byte of `next` on top.
TESMORA_AVX512 inline __m512i NextBytes(__m512i a, __m512i next) {
    return _mm512_alignr_epi8(_mm512_maskz_alignr_epi32(0xFFFF, next, a, 4), a, 1);
}

// For the bytes `a`, `first` has the groups whose first-byte tables pass each
// as the first byte of a word, `second` those whose second-byte tables pass it
// as the second.
TESMORA_AVX512 inline void Lookups(__m512i a, const Tables& t, __m512i& first, __m512i& second) {
    const __m512i low = _mm512_set1_epi8(0x0F);
    const __m512i lows = _mm512_and_si512(a, low);
    const __m512i highs = _mm512_and_si512(_mm512_srli_epi16(a, 4), low);
    first = _mm512_and_si512(_mm512_shuffle_epi8(t.t0, lows), _mm512_shuffle_epi8(t.t1, highs));
    second = _mm512_and_si512(_mm512_shuffle_epi8(t.t2, lows), _mm512_shuffle_epi8(t.t3, highs));
}

// Bit i: position i, whose first byte is a[i] and second b[i], passes all
// four tables.
TESMORA_AVX512 inline uint64_t Candidates(__m512i a, __m512i b, const Tables& t) {
    __m512i first, unused, second;
    Lookups(a, t, first, unused);
    Lookups(b, t, unused, second);
    return _mm512_test_epi8_mask(first, second);
}

// The candidates of `mask` (bit i: position at + i) whose word is occupied.
inline uint64_t Occupied(const SearchKind& k, const uint8_t* at, uint64_t mask) {
    uint64_t kept = 0;
    while (mask != 0) {
        const unsigned i = static_cast<unsigned>(__builtin_ctzll(mask));
        mask &= mask - 1;
        kept |= static_cast<uint64_t>(k.occupied[WordAt(at, i)]) << i;
    }
    return kept;
}

// The occupied candidates among the `n` (1 .. 64) positions from `at`, whose
// bytes at .. at + n all lie in the range.
TESMORA_AVX512 inline uint64_t Unit(const SearchKind& k, const uint8_t* at, std::size_t n, const Tables& t) {
    const __mmask64 in = n < 64 ? (uint64_t{1} << n) - 1 : ~uint64_t{0};
    const __m512i a = _mm512_maskz_loadu_epi8(in, at);
    const __m512i b = _mm512_maskz_loadu_epi8(in, at + 1);
    return Occupied(k, at, Candidates(a, b, t) & in);
}

// From position `from` on, the first (up to) 64 positions whose candidates
// include an occupied word: returns their first position, sets `found` (bit
// i: that position + i) and `from` to the position past them; sets `found`
// to 0 once the range is done.
__attribute__((always_inline)) TESMORA_AVX512 inline std::size_t Next(const SearchKind& k, const uint8_t* bytes,
                                                                      std::size_t length, std::size_t& from,
                                                                      uint64_t& found) {
    Tables t;
    t.t0 = Broadcast(k.nibbles[0]);
    t.t1 = Broadcast(k.nibbles[1]);
    t.t2 = Broadcast(k.nibbles[2]);
    t.t3 = Broadcast(k.nibbles[3]);
    std::size_t p = from;
    const std::size_t misalign = reinterpret_cast<uintptr_t>(bytes + p) & 63;
    if (misalign != 0 && p + 1 < length) {
        // Up to the next cache line.
        const std::size_t n = std::min<std::size_t>(64 - misalign, length - 1 - p);
        from = p + n;
        if ((found = Unit(k, bytes + p, n, t)) != 0) return p;
        p += n;
    }
    if (p + 192 <= length) {
        // Positions p .. p + 127 read the lines at p, p + 64 and p + 128.
        __m512i f0, s0;
        Lookups(_mm512_loadu_si512(bytes + p), t, f0, s0);
        for (; p + 192 <= length; p += 128) {
            __m512i f1, s1, f2, s2;
            Lookups(_mm512_loadu_si512(bytes + p + 64), t, f1, s1);
            Lookups(_mm512_loadu_si512(bytes + p + 128), t, f2, s2);
            const uint64_t mask0 = _mm512_test_epi8_mask(f0, NextBytes(s0, s1));
            const uint64_t mask1 = _mm512_test_epi8_mask(f1, NextBytes(s1, s2));
            f0 = f2;
            s0 = s2;
            if ((mask0 | mask1) == 0) continue;
            if ((found = Occupied(k, bytes + p, mask0)) != 0) {
                from = p + 64;
                return p;
            }
            if ((found = Occupied(k, bytes + p + 64, mask1)) != 0) {
                from = p + 128;
                return p + 64;
            }
        }
    }
    while (p + 1 < length) {
        const std::size_t n = std::min<std::size_t>(64, length - 1 - p);
        if ((found = Unit(k, bytes + p, n, t)) != 0) {
            from = p + n;
            return p;
        }
        p += n;
    }
    found = 0;
    from = p;
    return p;
}

// Next() with the upper halves of the vector registers cleared on the way
// out, before any code without VEX encoding runs.
__attribute__((noinline)) TESMORA_REALIGN TESMORA_AVX512 std::size_t NextOccupied(const SearchKind& k,
                                                                                 const uint8_t* bytes,
                                                                                 std::size_t length, std::size_t& from,
                                                                                 uint64_t& found) {
    const std::size_t base = Next(k, bytes, length, from, found);
    _mm256_zeroupper();
    return base;
}

}  // namespace

const SignatureIndexEntry* SearchAvx512bw(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                          std::size_t& start) {
    std::size_t p = 0;
    for (;;) {
        uint64_t found = 0;
        const std::size_t base = NextOccupied(k, bytes, length, p, found);
        if (found == 0) return nullptr;
        do {
            const std::size_t at = base + static_cast<std::size_t>(__builtin_ctzll(found));
            found &= found - 1;
            if (const SignatureIndexEntry* e = WalkBucket(k, bytes, length, at, start)) return e;
        } while (found != 0);
    }
}

#endif  // TESMORA_X86_KERNELS
