// The signature index: every remover's memory and file records filed in
// 65,536 buckets by anchor word, searched over byte ranges by the scanners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CMalwareRemover;
struct SearchKind;

// Bits of SignatureIndexEntry::kinds.
constexpr uint8_t kMatchesInFiles = 1;
constexpr uint8_t kMatchesInMemory = 2;

struct SignatureIndexEntry {
    CMalwareRemover* remover = nullptr;  // owned by the scan controller
    uint8_t kinds = 0;                   // kMatchesInFiles, kMatchesInMemory or both
    uint8_t memoryHead[5] = {};          // zero in a file-only entry
    uint8_t fileHead[5] = {};            // zero in a memory-only entry
    uint32_t memoryLength = 0;
    uint32_t fileLength = 0;
    uint32_t memoryAnchorOffset = 0;
    uint32_t fileAnchorOffset = 0;
    uint32_t memoryCrc = 0;
    uint32_t fileCrc = 0;
    const SignatureIndexEntry* next = nullptr;  // next entry of the same bucket
};

// How the finds look for candidate anchor words; results never differ.
enum class SearchMethod {
    Auto,      // the fastest this CPU and the index's words allow
    Scalar,    // a table of occupied buckets, any CPU
    Sse2,      // 16-bit compares against up to 16 anchor words
    Ssse3,     // nibble-table classification, 16 positions a step
    Avx2,      // the same, 32 positions a step
    Avx512bw,  // the same, 64 positions a step (the system must save ZMM state)
};

class CSignatureIndex {
public:
    static constexpr std::size_t kBucketCount = 65536;

    CSignatureIndex();
    ~CSignatureIndex();
    CSignatureIndex(const CSignatureIndex&) = delete;
    CSignatureIndex& operator=(const CSignatureIndex&) = delete;

    // Files the records of `removers` (`count` pointers, registration order),
    // replacing any earlier contents. A remover whose memory and file records
    // have equal length (non-zero), anchor offset and CRC gets one entry of
    // both kinds under its file anchor word; otherwise a file entry (if any)
    // then a memory entry (if any). Buckets keep registration order.
    void Build(CMalwareRemover* const* removers, std::size_t count);
    void Release();

    // First entry whose memory signature lies wholly inside [bytes, bytes +
    // length), or null: the lowest position of a matching anchor word wins,
    // then bucket order. Ranges under 3 bytes never match. Never allocates.
    const SignatureIndexEntry* FindInMemory(const uint8_t* bytes, std::size_t length) const;
    // The same for file signatures; `start` is the match's offset in the
    // range, 0 without a match.
    const SignatureIndexEntry* FindInFile(const uint8_t* bytes, std::size_t length, std::size_t& start) const;

    // First entry of the bucket of `word`, null when empty or not built.
    const SignatureIndexEntry* Bucket(uint16_t word) const;

    // Whether this CPU can run `method`.
    static bool IsSupported(SearchMethod method);
    // Selects the search method for later finds; false (nothing changed) when
    // the CPU lacks it. A method that cannot serve a kind's set of anchor
    // words (Sse2 beyond 16 words) falls back to Scalar for that kind.
    bool UseMethod(SearchMethod method);
    // The method the finds of `kind` (kMatchesInFiles or kMatchesInMemory) use.
    SearchMethod ActiveMethod(uint8_t kind) const;

private:
    void SelectKernels(const std::vector<uint16_t>& buckets);

    std::vector<SignatureIndexEntry> entries_;
    std::vector<const SignatureIndexEntry*> heads_;
    std::unique_ptr<SearchKind> file_;
    std::unique_ptr<SearchKind> memory_;
    SearchMethod requested_ = SearchMethod::Auto;
};
