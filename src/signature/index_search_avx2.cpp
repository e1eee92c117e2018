// AVX2 kernel of the signature index (index_search.h): three nibble tables
// classify 64 positions a step, with one branch when none passes; the fourth
// table and the exact word table judge the rare steps that do.
// Windows builds assemble this file with -Wa,-muse-unaligned-vector-move:
// GCC there cannot align the stack for 32-byte spills.
#include "signature/index_search.h"

#if defined(TESMORA_X86_KERNELS)

#include <immintrin.h>


namespace {

// How far ahead of the classification the loop prefetches into the first-
// level cache (also how much of a range is prefetched on entry: a memory
// block overlaps its predecessor), and how far into the second level.
constexpr std::size_t kPrefetchDistance = 1024;
constexpr std::size_t kFarPrefetchDistance = 8192;

struct Tables {
    __m256i t0, t1, t2, t3;
};

// The three tables of the first stage for positions at .. at + 31; the high
// nibble whose table waits for the second stage is the first byte's when
// kLateFirstHigh, else the second byte's.
template <bool kLateFirstHigh>
__attribute__((target("avx2"))) inline __m256i Early(const uint8_t* at, const Tables& t) {
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i lows = _mm256_and_si256(_mm256_shuffle_epi8(t.t0, _mm256_and_si256(a, low)),
                                          _mm256_shuffle_epi8(t.t2, _mm256_and_si256(b, low)));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(kLateFirstHigh ? b : a, 4), low);
    return _mm256_and_si256(lows, _mm256_shuffle_epi8(kLateFirstHigh ? t.t3 : t.t1, high));
}

template <bool kLateFirstHigh>
__attribute__((target("avx2"))) inline __m256i Late(const uint8_t* at, const Tables& t) {
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + (kLateFirstHigh ? 0 : 1)));
    return _mm256_shuffle_epi8(kLateFirstHigh ? t.t1 : t.t3, _mm256_and_si256(_mm256_srli_epi16(v, 4), low));
}

__attribute__((target("avx2"))) inline uint32_t Passed(__m256i m) {
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(m, _mm256_setzero_si256())));
}

// The candidates of `mask` (bit i: position base + i), in order; the walk
// runs outside the vector code.
__attribute__((noinline)) const SignatureIndexEntry* WalkCandidates(const SearchKind& k, const uint8_t* bytes,
                                                                    std::size_t length, std::size_t base,
                                                                    uint32_t mask, std::size_t& start) {
    while (mask != 0) {
        const std::size_t p = base + static_cast<std::size_t>(__builtin_ctz(mask));
        mask &= mask - 1;
        if (!k.Occupied(WordAt(bytes, p))) continue;
        if (const SignatureIndexEntry* e = WalkBucket(k, bytes, length, p, start)) return e;
    }
    return nullptr;
}

template <bool kLateFirstHigh>
TESMORA_REALIGN __attribute__((target("avx2"))) const SignatureIndexEntry* SearchVectors(
    const SearchKind& k, const uint8_t* bytes, std::size_t length, std::size_t& start, std::size_t& next) {
    Tables t;
    t.t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[0]));
    t.t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[1]));
    t.t2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[2]));
    t.t3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[3]));
    // Prefetches never fault, not even past the range.
    for (std::size_t i = 0; i < kPrefetchDistance && i < length; i += 64) {
        _mm_prefetch(reinterpret_cast<const char*>(bytes + i), _MM_HINT_T0);
    }
    std::size_t p = 0;
    const SignatureIndexEntry* hit = nullptr;
    // Positions p .. p + 63 read bytes p .. p + 64.
    for (; p + 65 <= length; p += 64) {
        _mm_prefetch(reinterpret_cast<const char*>(bytes + p + kPrefetchDistance), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(bytes + p + kFarPrefetchDistance), _MM_HINT_T1);
        const __m256i e0 = Early<kLateFirstHigh>(bytes + p, t);
        const __m256i e1 = Early<kLateFirstHigh>(bytes + p + 32, t);
        const __m256i any = _mm256_or_si256(e0, e1);
        if (_mm256_testz_si256(any, any)) continue;
        const uint32_t mask0 = Passed(_mm256_and_si256(e0, Late<kLateFirstHigh>(bytes + p, t)));
        const uint32_t mask1 = Passed(_mm256_and_si256(e1, Late<kLateFirstHigh>(bytes + p + 32, t)));
        if ((mask0 | mask1) == 0) continue;
        if ((hit = WalkCandidates(k, bytes, length, p, mask0, start)) != nullptr) break;
        if ((hit = WalkCandidates(k, bytes, length, p + 32, mask1, start)) != nullptr) break;
    }
    if (hit == nullptr && p + 33 <= length) {
        const __m256i m = _mm256_and_si256(Early<kLateFirstHigh>(bytes + p, t), Late<kLateFirstHigh>(bytes + p, t));
        hit = WalkCandidates(k, bytes, length, p, Passed(m), start);
        p += 32;
    }
    _mm256_zeroupper();
    next = p;
    return hit;
}

}  // namespace

const SignatureIndexEntry* SearchAvx2(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                      std::size_t& start) {
    std::size_t next = 0;
    const SignatureIndexEntry* hit = k.secondStageFirstHigh ? SearchVectors<true>(k, bytes, length, start, next)
                                                            : SearchVectors<false>(k, bytes, length, start, next);
    if (hit != nullptr) return hit;
    return SearchScalar(k, bytes, length, start, next);
}

#endif  // TESMORA_X86_KERNELS
