// AVX2 kernel of the signature index (index_search.h): the nibble-table
// classification of 64 positions a step, one branch when none passes.
// Windows builds assemble this file with -Wa,-muse-unaligned-vector-move:
// GCC there cannot align the stack for 32-byte spills.
#include "signature/index_search.h"

#if defined(TESMORA_X86_KERNELS)

#include <immintrin.h>

#if defined(__i386__) && defined(_WIN32)
#define TESMORA_REALIGN __attribute__((force_align_arg_pointer))
#else
#define TESMORA_REALIGN
#endif

namespace {

struct Tables {
    __m256i t0, t1, t2, t3;
};

__attribute__((target("avx2"))) inline __m256i Classify(const uint8_t* at, const Tables& t) {
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i first = _mm256_and_si256(_mm256_shuffle_epi8(t.t0, _mm256_and_si256(a, low)),
                                           _mm256_shuffle_epi8(t.t1, _mm256_and_si256(_mm256_srli_epi16(a, 4), low)));
    const __m256i second = _mm256_and_si256(_mm256_shuffle_epi8(t.t2, _mm256_and_si256(b, low)),
                                            _mm256_shuffle_epi8(t.t3, _mm256_and_si256(_mm256_srli_epi16(b, 4), low)));
    return _mm256_and_si256(first, second);
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

TESMORA_REALIGN __attribute__((target("avx2"))) const SignatureIndexEntry* SearchVectors(
    const SearchKind& k, const uint8_t* bytes, std::size_t length, std::size_t& start, std::size_t& next) {
    Tables t;
    t.t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[0]));
    t.t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[1]));
    t.t2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[2]));
    t.t3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(k.nibbles[3]));
    std::size_t p = 0;
    const SignatureIndexEntry* hit = nullptr;
    // Positions p .. p + 63 read bytes p .. p + 64.
    for (; p + 65 <= length; p += 64) {
        const __m256i m0 = Classify(bytes + p, t);
        const __m256i m1 = Classify(bytes + p + 32, t);
        const __m256i any = _mm256_or_si256(m0, m1);
        if (_mm256_testz_si256(any, any)) continue;
        const uint32_t mask0 = Passed(m0);
        const uint32_t mask1 = Passed(m1);
        if ((hit = WalkCandidates(k, bytes, length, p, mask0, start)) != nullptr) break;
        if ((hit = WalkCandidates(k, bytes, length, p + 32, mask1, start)) != nullptr) break;
    }
    if (hit == nullptr && p + 33 <= length) {
        hit = WalkCandidates(k, bytes, length, p, Passed(Classify(bytes + p, t)), start);
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
    if (const SignatureIndexEntry* hit = SearchVectors(k, bytes, length, start, next)) return hit;
    return SearchScalar(k, bytes, length, start, next);
}

#endif  // TESMORA_X86_KERNELS
