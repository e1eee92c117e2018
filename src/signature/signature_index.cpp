// Entries are filed under their anchor word. Searching "..4D 5A 9A E1 ..."
// for a file record whose anchor word 0xE19A sits 49 bytes into a 136-byte
// signature: at p, the position of 9A, the word 0xE19A selects the bucket;
// the entry's signature would start at p - 49 and must end inside the range;
// then its five head bytes and its CRC over the rest decide.
//
// The kernels (index_search.h) skip the positions whose word has an empty
// bucket; this file holds the exact walk, the scalar kernel, the tables the
// vector kernels read and the choice among them.
#include "signature/signature_index.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "removers/remover.h"
#include "signature/index_search.h"
#include "signature/signature.h"

namespace {

constexpr int kGroups = 8;
// Above this many anchor words the groups are dealt out without weighing.
constexpr std::size_t kWeighedWords = 64;
// Auto uses the nibble tables while they pass less than this share of
// ordinary byte pairs (by g_wordFrequency), else the word table alone.
constexpr double kUsefulShare = 0.03;
// Auto uses 16-bit compares for at most this many words.
constexpr std::size_t kAutoCompareWords = 8;

bool Usable(const SignatureIndexEntry& e, uint8_t kind) {
    if ((e.kinds & kind) == 0) return false;
    const uint32_t length = kind == kMatchesInFiles ? e.fileLength : e.memoryLength;
    return length >= kSignatureHeadSize;
}

// Nibble sets of one group: low/high nibble of the first byte, of the second.
struct Group {
    uint16_t sets[4] = {};

    Group With(unsigned word) const {
        Group g = *this;
        for (int t = 0; t < 4; ++t) g.sets[t] |= static_cast<uint16_t>(1u << (word >> (4 * t) & 15));
        return g;
    }

    // Summed frequency of every word the group lets through when the nibble
    // table `ignored` (1 or 3, or -1 for none) is not consulted.
    double Mass(int ignored) const;

    static std::size_t Bytes(uint16_t lows, uint16_t highs, unsigned* out) {
        std::size_t n = 0;
        for (unsigned h = 0; h < 16; ++h) {
            for (unsigned l = 0; l < 16; ++l) {
                if ((highs >> h & 1) != 0 && (lows >> l & 1) != 0) out[n++] = h << 4 | l;
            }
        }
        return n;
    }
};

// g_wordFrequency summed over the high nibble of one byte of the pair:
// firstFree[l][s]: first byte ?l, second byte s; secondFree[f][l]: first
// byte f, second byte ?l.
struct FreeNibbleSums {
    double firstFree[16][256];
    double secondFree[256][16];
    FreeNibbleSums() : firstFree(), secondFree() {
        for (unsigned w = 0; w < 65536; ++w) {
            firstFree[w & 15][w >> 8] += g_wordFrequency[w];
            secondFree[w & 255][w >> 8 & 15] += g_wordFrequency[w];
        }
    }
};

double Group::Mass(int ignored) const {
    static const FreeNibbleSums kSums;
    unsigned first[256];
    unsigned second[256];
    double mass = 0;
    if (ignored == 1) {
        const std::size_t nSecond = Bytes(sets[2], sets[3], second);
        for (unsigned l = 0; l < 16; ++l) {
            if ((sets[0] >> l & 1) == 0) continue;
            for (std::size_t j = 0; j < nSecond; ++j) mass += kSums.firstFree[l][second[j]];
        }
        return mass;
    }
    const std::size_t nFirst = Bytes(sets[0], sets[1], first);
    if (ignored == 3) {
        for (std::size_t i = 0; i < nFirst; ++i) {
            for (unsigned l = 0; l < 16; ++l) {
                if ((sets[2] >> l & 1) != 0) mass += kSums.secondFree[first[i]][l];
            }
        }
        return mass;
    }
    const std::size_t nSecond = Bytes(sets[2], sets[3], second);
    for (std::size_t i = 0; i < nFirst; ++i) {
        for (std::size_t j = 0; j < nSecond; ++j) mass += g_wordFrequency[first[i] | second[j] << 8];
    }
    return mass;
}

double TotalFrequency() {
    double total = 0;
    for (uint32_t f : g_wordFrequency) total += f;
    return total;
}

// Deals `words` into the groups so that the first stage (which skips the
// table `ignored`) passes little ordinary data: each word goes where it adds
// the least mass, then single words move while a move lowers the total.
// Returns that mass.
double DealGroups(const std::vector<unsigned>& words, int ignored, Group (&groups)[kGroups]) {
    std::vector<int> home(words.size());
    auto build = [&](int g) {
        Group rebuilt;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (home[i] == g) rebuilt = rebuilt.With(words[i]);
        }
        return rebuilt;
    };
    double masses[kGroups] = {};
    for (std::size_t i = 0; i < words.size(); ++i) {
        int best = static_cast<int>(i % kGroups);
        if (words.size() > kGroups && words.size() <= kWeighedWords) {
            double bestGrowth = 0;
            for (int g = 0; g < kGroups; ++g) {
                const double growth = groups[g].With(words[i]).Mass(ignored) - masses[g];
                if (g == 0 || growth < bestGrowth) {
                    bestGrowth = growth;
                    best = g;
                }
            }
        }
        home[i] = best;
        groups[best] = groups[best].With(words[i]);
        masses[best] = groups[best].Mass(ignored);
    }
    if (words.size() > kGroups && words.size() <= kWeighedWords) {
        for (int pass = 0; pass < 4; ++pass) {
            bool moved = false;
            for (std::size_t i = 0; i < words.size(); ++i) {
                const int from = home[i];
                home[i] = -1;
                const Group without = build(from);
                const double saved = masses[from] - without.Mass(ignored);
                int best = from;
                double bestGain = 0;
                for (int g = 0; g < kGroups; ++g) {
                    if (g == from) continue;
                    const double gain = saved - (groups[g].With(words[i]).Mass(ignored) - masses[g]);
                    if (gain > bestGain * 1.0000001 + 1) {
                        bestGain = gain;
                        best = g;
                    }
                }
                home[i] = best;
                if (best != from) {
                    groups[from] = without;
                    masses[from] = without.Mass(ignored);
                    groups[best] = groups[best].With(words[i]);
                    masses[best] = groups[best].Mass(ignored);
                    moved = true;
                }
            }
            if (!moved) break;
        }
    }
    double total = 0;
    for (double m : masses) total += m;
    return total;
}

// Fills the word table, word list and nibble tables of `k` from the buckets.
// The vector kernels test three tables first and the fourth only where those
// pass; of the two high-nibble tables the one whose omission passes less
// ordinary data is left for the second stage.
// `buckets`: the bucket word of each of `entries`.
void PrepareKind(SearchKind& k, const std::vector<SignatureIndexEntry>& entries, const std::vector<uint16_t>& buckets) {
    std::vector<unsigned> words;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (Usable(entries[i], k.kind) && k.occupied[buckets[i]] == 0) {
            k.occupied[buckets[i]] = 1;
            words.push_back(buckets[i]);
        }
    }
    std::sort(words.begin(), words.end());
    k.wordCount = words.size();
    for (std::size_t i = 0; i < words.size() && i < 16; ++i) k.words[i] = static_cast<uint16_t>(words[i]);

    Group skipFirst[kGroups];
    Group skipSecond[kGroups];
    const double massSkipFirst = DealGroups(words, 1, skipFirst);
    const double massSkipSecond = DealGroups(words, 3, skipSecond);
    k.secondStageFirstHigh = massSkipFirst < massSkipSecond;
    const Group* groups = k.secondStageFirstHigh ? skipFirst : skipSecond;
    double passed = 0;
    for (int g = 0; g < kGroups; ++g) {
        passed += groups[g].Mass(-1);
        for (int t = 0; t < 4; ++t) {
            for (unsigned n = 0; n < 16; ++n) {
                if ((groups[g].sets[t] >> n & 1) != 0) {
                    k.nibbles[t][n] = static_cast<uint8_t>(k.nibbles[t][n] | 1u << g);
                    k.nibbles[t][n + 16] = k.nibbles[t][n];
                }
            }
        }
    }
    static const double kTotal = TotalFrequency();
    k.passShare = passed / kTotal;
}

#if defined(TESMORA_X86_KERNELS)
// AVX-512BW in the CPU, and the system saving the opmask and all of every ZMM
// register (XCR0 bits 5-7) beside the SSE and AVX state (bits 1-2).
bool Avx512bwUsable() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0) return false;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
    if ((b & bit_AVX512F) == 0 || (b & bit_AVX512BW) == 0) return false;
    unsigned xcr0 = 0, high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    return (xcr0 & 0xE6) == 0xE6;
}
#endif

bool CpuHas(SearchMethod method) {
#if defined(TESMORA_X86_KERNELS)
    switch (method) {
        case SearchMethod::Auto:
        case SearchMethod::Scalar:
            return true;
        case SearchMethod::Sse2:
            return __builtin_cpu_supports("sse2");
        case SearchMethod::Ssse3:
            return __builtin_cpu_supports("ssse3");
        case SearchMethod::Avx2:
            return __builtin_cpu_supports("avx2");
        case SearchMethod::Avx512bw: {
            static const bool usable = Avx512bwUsable();
            return usable;
        }
    }
    return false;
#else
    return method == SearchMethod::Auto || method == SearchMethod::Scalar;
#endif
}

const SignatureIndexEntry* SearchScalarAll(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                           std::size_t& start) {
    return SearchScalar(k, bytes, length, start, 0);
}

void Choose(SearchKind& k, SearchMethod requested) {
    const double share = k.passShare;
    SearchMethod method = requested;
    if (method == SearchMethod::Auto) {
        if (share < kUsefulShare && CpuHas(SearchMethod::Avx512bw)) {
            method = SearchMethod::Avx512bw;
        } else if (share < kUsefulShare && CpuHas(SearchMethod::Avx2)) {
            method = SearchMethod::Avx2;
        } else if (share < kUsefulShare && CpuHas(SearchMethod::Ssse3)) {
            method = SearchMethod::Ssse3;
        } else if (k.wordCount <= kAutoCompareWords && CpuHas(SearchMethod::Sse2)) {
            method = SearchMethod::Sse2;
        } else {
            method = SearchMethod::Scalar;
        }
    }
    if (method == SearchMethod::Sse2 && k.wordCount > 16) method = SearchMethod::Scalar;
    k.method = method;
    k.kernel = &SearchScalarAll;
#if defined(TESMORA_X86_KERNELS)
    if (method == SearchMethod::Sse2) k.kernel = &SearchSse2;
    if (method == SearchMethod::Ssse3) k.kernel = &SearchSsse3;
    if (method == SearchMethod::Avx2) k.kernel = &SearchAvx2;
    if (method == SearchMethod::Avx512bw) k.kernel = &SearchAvx512bw;
#endif
}

}  // namespace

const SignatureIndexEntry* WalkBucket(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                      std::size_t p, std::size_t& start) {
    const bool file = k.kind == kMatchesInFiles;
    for (const SignatureIndexEntry* e = k.heads[WordAt(bytes, p)]; e != nullptr; e = e->next) {
        const uint32_t size = file ? e->fileLength : e->memoryLength;
        const uint32_t offset = file ? e->fileAnchorOffset : e->memoryAnchorOffset;
        if (size == 0 || p < offset) continue;
        const std::size_t at = p - offset;
        if (size > length - at || (e->kinds & k.kind) == 0) continue;
        // A record shorter than its own head (only a hand-made one) never matches.
        if (size < kSignatureHeadSize) continue;
        if (std::memcmp(bytes + at, file ? e->fileHead : e->memoryHead, kSignatureHeadSize) != 0) continue;
        const uint32_t crc = SignatureCrc(kSignatureCrcInit, bytes + at + kSignatureHeadSize, size - kSignatureHeadSize);
        if (crc != (file ? e->fileCrc : e->memoryCrc)) continue;
        start = at;
        return e;
    }
    return nullptr;
}

const SignatureIndexEntry* SearchScalar(const SearchKind& k, const uint8_t* bytes, std::size_t length,
                                        std::size_t& start, std::size_t from) {
    std::size_t p = from;
    // Eight positions a step, read bytes p .. p + 8; one branch unless one is occupied.
    for (; p + 9 <= length; p += 8) {
        unsigned any = 0;
        for (std::size_t j = 0; j < 8; ++j) any |= k.occupied[WordAt(bytes, p + j)];
        if (any == 0) continue;
        for (std::size_t j = 0; j < 8; ++j) {
            if (!k.Occupied(WordAt(bytes, p + j))) continue;
            if (const SignatureIndexEntry* e = WalkBucket(k, bytes, length, p + j, start)) return e;
        }
    }
    for (; p + 1 < length; ++p) {
        if (!k.Occupied(WordAt(bytes, p))) continue;
        if (const SignatureIndexEntry* e = WalkBucket(k, bytes, length, p, start)) return e;
    }
    return nullptr;
}

CSignatureIndex::CSignatureIndex() = default;
CSignatureIndex::~CSignatureIndex() = default;

void CSignatureIndex::Build(CMalwareRemover* const* removers, std::size_t count) {
    Release();
    entries_.reserve(2 * count);
    std::vector<uint16_t> buckets;  // bucket word of each entry
    buckets.reserve(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        CMalwareRemover* r = removers[i];
        uint32_t headSize = 0;
        SignatureIndexEntry file;
        file.remover = r;
        file.kinds = kMatchesInFiles;
        std::memcpy(file.fileHead, r->GetFileSignatureHead(headSize), sizeof file.fileHead);
        file.fileLength = r->GetFileSignatureLength();
        file.fileAnchorOffset = r->GetFileSignatureAnchorOffset();
        file.fileCrc = r->GetFileSignatureCrc();
        SignatureIndexEntry memory;
        memory.remover = r;
        memory.kinds = kMatchesInMemory;
        std::memcpy(memory.memoryHead, r->GetMemorySignatureHead(headSize), sizeof memory.memoryHead);
        memory.memoryLength = r->GetMemorySignatureLength();
        memory.memoryAnchorOffset = r->GetMemorySignatureAnchorOffset();
        memory.memoryCrc = r->GetMemorySignatureCrc();
        const uint16_t fileWord = r->GetFileSignatureAnchorWord();
        const uint16_t memoryWord = r->GetMemorySignatureAnchorWord();

        if (file.fileCrc == memory.memoryCrc && memory.memoryLength == file.fileLength &&
            memory.memoryLength != 0 && memory.memoryAnchorOffset == file.fileAnchorOffset) {
            SignatureIndexEntry both = file;
            both.kinds = kMatchesInFiles | kMatchesInMemory;
            std::memcpy(both.memoryHead, memory.memoryHead, sizeof both.memoryHead);
            both.memoryLength = memory.memoryLength;
            both.memoryAnchorOffset = memory.memoryAnchorOffset;
            both.memoryCrc = memory.memoryCrc;
            entries_.push_back(both);
            buckets.push_back(fileWord);
            continue;
        }
        if (file.fileLength > 0) {
            entries_.push_back(file);
            buckets.push_back(fileWord);
        }
        if (memory.memoryLength > 0) {
            entries_.push_back(memory);
            buckets.push_back(memoryWord);
        }
    }

    heads_.assign(kBucketCount, nullptr);
    std::vector<SignatureIndexEntry*> tails(kBucketCount, nullptr);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        SignatureIndexEntry* e = &entries_[i];
        if (tails[buckets[i]] == nullptr) {
            heads_[buckets[i]] = e;
        } else {
            tails[buckets[i]]->next = e;
        }
        tails[buckets[i]] = e;
    }

    file_ = std::make_unique<SearchKind>();
    memory_ = std::make_unique<SearchKind>();
    file_->kind = kMatchesInFiles;
    memory_->kind = kMatchesInMemory;
    SelectKernels(buckets);
}

void CSignatureIndex::SelectKernels(const std::vector<uint16_t>& buckets) {
    for (SearchKind* k : {file_.get(), memory_.get()}) {
        k->heads = heads_.data();
        PrepareKind(*k, entries_, buckets);
        Choose(*k, requested_);
    }
}

void CSignatureIndex::Release() {
    file_.reset();
    memory_.reset();
    heads_.clear();
    heads_.shrink_to_fit();
    entries_.clear();
    entries_.shrink_to_fit();
}

const SignatureIndexEntry* CSignatureIndex::FindInMemory(const uint8_t* bytes, std::size_t length) const {
    std::size_t start = 0;
    if (!memory_ || length < 3 || memory_->wordCount == 0) return nullptr;
    return memory_->kernel(*memory_, bytes, length, start);
}

const SignatureIndexEntry* CSignatureIndex::FindInFile(const uint8_t* bytes, std::size_t length,
                                                       std::size_t& start) const {
    start = 0;
    if (!file_ || length < 3 || file_->wordCount == 0) return nullptr;
    return file_->kernel(*file_, bytes, length, start);
}

const SignatureIndexEntry* CSignatureIndex::Bucket(uint16_t word) const {
    return heads_.empty() ? nullptr : heads_[word];
}

bool CSignatureIndex::IsSupported(SearchMethod method) { return CpuHas(method); }

bool CSignatureIndex::UseMethod(SearchMethod method) {
    if (!CpuHas(method)) return false;
    requested_ = method;
    if (file_) {
        for (SearchKind* k : {file_.get(), memory_.get()}) Choose(*k, requested_);
    }
    return true;
}

SearchMethod CSignatureIndex::ActiveMethod(uint8_t kind) const {
    const SearchKind* k = kind == kMatchesInFiles ? file_.get() : memory_.get();
    return k != nullptr ? k->method : SearchMethod::Scalar;
}
