// SSE2 and SSSE3 kernels of the signature index (index_search.h), compiled
// for any x86 CPU and chosen at run time.
//
// SSE2: the 16 bytes at p hold the words of the even positions p, p + 2, ...
// and the 16 bytes at p + 1 those of the odd ones; one 16-bit compare per
// anchor word and load tests 8 positions exactly.
// SSSE3: PSHUFB looks up the nibble tables for 16 positions at once, three
// tables first and the fourth where they pass.
#include "signature/index_search.h"

#if defined(TESMORA_X86_KERNELS)

#include <immintrin.h>


namespace {

// Walks the candidates of `mask` (bit i: position base + i) in order.
inline const SignatureIndexEntry* WalkCandidates(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                                 std::size_t base, uint32_t mask, std::size_t& start) {
    while (mask != 0) {
        const std::size_t p = base + static_cast<std::size_t>(__builtin_ctz(mask));
        mask &= mask - 1;
        if (!k.Occupied(WordAt(bytes, p))) continue;
        if (const SignatureIndexEntry* e = WalkBucket(k, bytes, length, p, start)) return e;
    }
    return nullptr;
}

// The first-stage tables for positions at .. at + 15 (see index_search_avx2.cpp).
template <bool kLateFirstHigh>
__attribute__((target("ssse3"))) inline __m128i Early(const uint8_t* at, const __m128i (&t)[4]) {
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const __m128i lows = _mm_and_si128(_mm_shuffle_epi8(t[0], _mm_and_si128(a, low)),
                                       _mm_shuffle_epi8(t[2], _mm_and_si128(b, low)));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(kLateFirstHigh ? b : a, 4), low);
    return _mm_and_si128(lows, _mm_shuffle_epi8(kLateFirstHigh ? t[3] : t[1], high));
}

template <bool kLateFirstHigh>
__attribute__((target("ssse3"))) inline __m128i Late(const uint8_t* at, const __m128i (&t)[4]) {
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + (kLateFirstHigh ? 0 : 1)));
    return _mm_shuffle_epi8(kLateFirstHigh ? t[1] : t[3], _mm_and_si128(_mm_srli_epi16(v, 4), low));
}

__attribute__((target("sse2"))) inline uint32_t Passed(__m128i m) {
    return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(m, _mm_setzero_si128()))) & 0xFFFFu;
}

template <bool kLateFirstHigh>
TESMORA_REALIGN __attribute__((target("ssse3"))) const SignatureIndexEntry* SearchNibbles(
    const SearchKind& k, const uint8_t* bytes, std::size_t length, std::size_t& start) {
    __m128i t[4];
    for (int i = 0; i < 4; ++i) t[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.nibbles[i]));
    std::size_t p = 0;
    // Positions p .. p + 31 read bytes p .. p + 32.
    for (; p + 33 <= length; p += 32) {
        const __m128i e0 = Early<kLateFirstHigh>(bytes + p, t);
        const __m128i e1 = Early<kLateFirstHigh>(bytes + p + 16, t);
        if (Passed(_mm_or_si128(e0, e1)) == 0) continue;
        const uint32_t mask = Passed(_mm_and_si128(e0, Late<kLateFirstHigh>(bytes + p, t))) |
                              Passed(_mm_and_si128(e1, Late<kLateFirstHigh>(bytes + p + 16, t))) << 16;
        if (mask == 0) continue;
        if (const SignatureIndexEntry* hit = WalkCandidates(k, bytes, length, p, mask, start)) return hit;
    }
    return SearchScalar(k, bytes, length, start, p);
}

}  // namespace

TESMORA_REALIGN __attribute__((target("sse2"))) const SignatureIndexEntry* SearchSse2(
    const SearchKind& k, const uint8_t* bytes, std::size_t length, std::size_t& start) {
    __m128i words[16];
    const std::size_t n = k.wordCount < 16 ? k.wordCount : 16;
    for (std::size_t i = 0; i < n; ++i) words[i] = _mm_set1_epi16(static_cast<short>(k.words[i]));
    std::size_t p = 0;
    // Positions p .. p + 15 read bytes p .. p + 16.
    for (; p + 17 <= length; p += 16) {
        const __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p));
        const __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + p + 1));
        __m128i e = _mm_setzero_si128();
        __m128i o = _mm_setzero_si128();
        for (std::size_t i = 0; i < n; ++i) {
            e = _mm_or_si128(e, _mm_cmpeq_epi16(even, words[i]));
            o = _mm_or_si128(o, _mm_cmpeq_epi16(odd, words[i]));
        }
        const uint32_t mask = (static_cast<uint32_t>(_mm_movemask_epi8(e)) & 0x5555u) |
                              (static_cast<uint32_t>(_mm_movemask_epi8(o)) & 0x5555u) << 1;
        if (mask == 0) continue;
        if (const SignatureIndexEntry* hit = WalkCandidates(k, bytes, length, p, mask, start)) return hit;
    }
    return SearchScalar(k, bytes, length, start, p);
}

const SignatureIndexEntry* SearchSsse3(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                       std::size_t& start) {
    return k.secondStageFirstHigh ? SearchNibbles<true>(k, bytes, length, start)
                                  : SearchNibbles<false>(k, bytes, length, start);
}

#endif  // TESMORA_X86_KERNELS
