// Fixtures of the signature index tests and fuzz target: removers made from
// records, a plain walk of the index's rules over the removers themselves,
// and random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "removers/remover.h"
#include "signature/signature.h"
#include "signature/signature_index.h"

class CFakeRemover : public CMalwareRemover {
public:
    using CMalwareRemover::CMalwareRemover;
    const char16_t* GetFamilyName() const override { return u"Fake"; }
    const char16_t* GetVariantName() const override { return u"A"; }
    void Remove(CScanController&, const char16_t*, const void*, DetectionSource, bool) override {}
};

// The fields of one kind of signature of a remover, as the walk reads them.
struct FakeSignature {
    uint8_t head[5] = {};
    uint16_t word = 0;
    uint32_t length = 0;
    uint32_t offset = 0;
    uint32_t crc = 0;
};

inline FakeSignature FromRecord(const CSignature& s) {
    FakeSignature f;
    std::memcpy(f.head, s.Head(), 5);
    f.word = s.AnchorWord();
    f.length = s.Length();
    f.offset = s.AnchorOffset();
    f.crc = s.Crc();
    return f;
}

inline std::unique_ptr<CMalwareRemover> MakeRemover(const FakeSignature& memory, const FakeSignature& file) {
    return std::make_unique<CFakeRemover>(memory.head, file.head, memory.word, file.word, memory.length, file.length,
                                          memory.offset, file.offset, memory.crc, file.crc);
}

// CRC-32 a bit at a time, written apart from the table-driven one.
inline uint32_t BitwiseCrc(uint32_t r, const uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        r ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    return r;
}

struct ReferenceHit {
    const CMalwareRemover* remover = nullptr;
    std::size_t start = 0;
};

// First match of `kind` (kMatchesInFiles or kMatchesInMemory) in the range,
// walking every position and every remover in registration order: the entry
// a remover has in the bucket of the word at p decides. Signatures shorter
// than their 5-byte head never match.
inline ReferenceHit ReferenceFind(const std::vector<CMalwareRemover*>& removers, const uint8_t* bytes,
                                  std::size_t length, uint8_t kind) {
    if (length < 3) return {};
    for (std::size_t p = 0; p + 1 < length; ++p) {
        const unsigned word = bytes[p] | bytes[p + 1] << 8;
        for (CMalwareRemover* r : removers) {
            uint32_t headSize = 0;
            const bool combined = r->GetFileSignatureCrc() == r->GetMemorySignatureCrc() &&
                                  r->GetFileSignatureLength() == r->GetMemorySignatureLength() &&
                                  r->GetMemorySignatureLength() != 0 &&
                                  r->GetFileSignatureAnchorOffset() == r->GetMemorySignatureAnchorOffset();
            const bool file = kind == kMatchesInFiles;
            const uint32_t size = file ? r->GetFileSignatureLength() : r->GetMemorySignatureLength();
            const unsigned bucket = combined || file ? r->GetFileSignatureAnchorWord() : r->GetMemorySignatureAnchorWord();
            if (bucket != word || size < 5) continue;
            const uint32_t offset = file ? r->GetFileSignatureAnchorOffset() : r->GetMemorySignatureAnchorOffset();
            if (p < offset || size > length - (p - offset)) continue;
            const std::size_t start = p - offset;
            const uint8_t* head = file ? r->GetFileSignatureHead(headSize) : r->GetMemorySignatureHead(headSize);
            if (std::memcmp(bytes + start, head, 5) != 0) continue;
            const uint32_t crc = file ? r->GetFileSignatureCrc() : r->GetMemorySignatureCrc();
            if (BitwiseCrc(kSignatureCrcInit, bytes + start + 5, size - 5) != crc) continue;
            return {r, start};
        }
    }
    return {};
}

// Compares both finds of `index` (built from `removers`) with the reference
// walk over a copy of the range in a buffer of exactly its size. Empty when
// they agree, else what differs.
inline std::string CompareWithReference(const CSignatureIndex& index, const std::vector<CMalwareRemover*>& removers,
                                        const uint8_t* bytes, std::size_t length) {
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[length > 0 ? length : 1]);
    if (length > 0) std::memcpy(copy.get(), bytes, length);
    const uint8_t* range = length > 0 ? copy.get() : nullptr;
    std::string problem;
    std::size_t start = 12345;
    const SignatureIndexEntry* file = index.FindInFile(range, length, start);
    const ReferenceHit wantFile = ReferenceFind(removers, range, length, kMatchesInFiles);
    if ((file ? file->remover : nullptr) != wantFile.remover || start != wantFile.start) {
        problem += "file: got remover " + std::to_string(file ? reinterpret_cast<uintptr_t>(file->remover) : 0) +
                   " at " + std::to_string(start) + ", wanted " +
                   std::to_string(reinterpret_cast<uintptr_t>(wantFile.remover)) + " at " +
                   std::to_string(wantFile.start) + "; ";
    }
    const SignatureIndexEntry* memory = index.FindInMemory(range, length);
    const ReferenceHit wantMemory = ReferenceFind(removers, range, length, kMatchesInMemory);
    if ((memory ? memory->remover : nullptr) != wantMemory.remover) problem += "memory: different remover; ";
    return problem;
}

// Deterministic bytes (xorshift64*).
class CRandom {
public:
    explicit CRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    std::vector<uint8_t> Bytes(std::size_t n) {
        std::vector<uint8_t> out(n);
        for (auto& b : out) b = static_cast<uint8_t>(Next() >> 56);
        return out;
    }

private:
    uint64_t state_;
};
