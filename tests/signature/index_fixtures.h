// Fixtures of the signature index tests and fuzz target: removers made from
// records, a plain walk of the index's rules over the removers themselves,
// and random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "removers/remover.h"
#include "signature/signature.h"
#include "signature/signature_index.h"

// Every search method, Auto first.
constexpr SearchMethod kEverySearchMethod[] = {SearchMethod::Auto, SearchMethod::Scalar, SearchMethod::Sse2,
                                               SearchMethod::Ssse3, SearchMethod::Avx2, SearchMethod::Avx512bw};

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

// A remover's fields as the reference walk reads them, fetched once.
struct ReferenceRemover {
    const CMalwareRemover* remover = nullptr;
    bool combined = false;  // one entry of both kinds, under the file word
    FakeSignature memory;
    FakeSignature file;
};

inline std::vector<ReferenceRemover> ReferenceTable(const std::vector<CMalwareRemover*>& removers) {
    std::vector<ReferenceRemover> table;
    for (CMalwareRemover* r : removers) {
        ReferenceRemover t;
        t.remover = r;
        uint32_t size = 0;
        std::memcpy(t.memory.head, r->GetMemorySignatureHead(size), 5);
        std::memcpy(t.file.head, r->GetFileSignatureHead(size), 5);
        t.memory.word = r->GetMemorySignatureAnchorWord();
        t.file.word = r->GetFileSignatureAnchorWord();
        t.memory.length = r->GetMemorySignatureLength();
        t.file.length = r->GetFileSignatureLength();
        t.memory.offset = r->GetMemorySignatureAnchorOffset();
        t.file.offset = r->GetFileSignatureAnchorOffset();
        t.memory.crc = r->GetMemorySignatureCrc();
        t.file.crc = r->GetFileSignatureCrc();
        t.combined = t.file.crc == t.memory.crc && t.file.length == t.memory.length && t.memory.length != 0 &&
                     t.file.offset == t.memory.offset;
        table.push_back(t);
    }
    return table;
}

// First match of `kind` (kMatchesInFiles or kMatchesInMemory) in the range,
// walking every position and every remover in registration order: the entry
// a remover has in the bucket of the word at p decides. Signatures shorter
// than their 5-byte head never match.
inline ReferenceHit ReferenceFind(const std::vector<ReferenceRemover>& removers, const uint8_t* bytes,
                                  std::size_t length, uint8_t kind) {
    if (length < 3) return {};
    const bool file = kind == kMatchesInFiles;
    for (std::size_t p = 0; p + 1 < length; ++p) {
        const unsigned word = bytes[p] | bytes[p + 1] << 8;
        for (const ReferenceRemover& r : removers) {
            const FakeSignature& s = file ? r.file : r.memory;
            const unsigned bucket = r.combined || file ? r.file.word : r.memory.word;
            if (bucket != word || s.length < 5) continue;
            if (p < s.offset || s.length > length - (p - s.offset)) continue;
            const std::size_t start = p - s.offset;
            if (std::memcmp(bytes + start, s.head, 5) != 0) continue;
            if (BitwiseCrc(kSignatureCrcInit, bytes + start + 5, s.length - 5) != s.crc) continue;
            return {r.remover, start};
        }
    }
    return {};
}

// Compares both finds of `index` (built from the removers of `reference`)
// over the range in place, under every search method this CPU runs, with the
// reference walk. Empty when all agree, else what differs. Leaves the index
// on SearchMethod::Auto.
inline std::string CompareInPlace(CSignatureIndex& index, const std::vector<ReferenceRemover>& reference,
                                  const uint8_t* range, std::size_t length) {
    const ReferenceHit wantFile = ReferenceFind(reference, range, length, kMatchesInFiles);
    const ReferenceHit wantMemory = ReferenceFind(reference, range, length, kMatchesInMemory);
    std::string problem;
    for (SearchMethod method : kEverySearchMethod) {
        if (!index.UseMethod(method)) continue;
        const std::string name = "method " + std::to_string(static_cast<int>(method)) + ": ";
        std::size_t start = 12345;
        const SignatureIndexEntry* file = index.FindInFile(range, length, start);
        if ((file ? file->remover : nullptr) != wantFile.remover || start != wantFile.start) {
            problem += name + "file match at " + std::to_string(start) + " (reference " +
                       std::to_string(wantFile.start) + ", " + (wantFile.remover ? "a match" : "none") + "); ";
        }
        const SignatureIndexEntry* memory = index.FindInMemory(range, length);
        if ((memory ? memory->remover : nullptr) != wantMemory.remover) problem += name + "memory match differs; ";
    }
    index.UseMethod(SearchMethod::Auto);
    return problem;
}

// CompareInPlace over a copy of the range that ends where its allocation
// ends and starts at one of the 64 offsets into a cache line (picked by the
// length).
inline std::string CompareWithReference(CSignatureIndex& index, const std::vector<ReferenceRemover>& reference,
                                        const uint8_t* bytes, std::size_t length) {
    struct AlignedDelete {
        void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(64)); }
    };
    const std::size_t shift = (length * 37 + 11) % 64;
    const std::unique_ptr<uint8_t[], AlignedDelete> copy(
        static_cast<uint8_t*>(::operator new[](shift + length, std::align_val_t(64))));
    if (length > 0) std::memcpy(copy.get() + shift, bytes, length);
    return CompareInPlace(index, reference, length > 0 ? copy.get() + shift : nullptr, length);
}

// The records of one remover of a fuzz input, from the 5 bytes at `p`.
inline FakeSignature FuzzRecord(const uint8_t* p, const uint8_t* bytes, std::size_t n) {
    FakeSignature f;
    const std::size_t at = n > 0 ? (p[0] | p[1] << 8) % n : 0;
    const std::size_t want = 32 + p[2];
    if ((p[3] & 3) != 0 && n >= 32 && at + want <= n) {
        f = FromRecord(*MakeSignatureRecord(bytes + at, want));
        if ((p[3] & 4) != 0) {  // anchored by hand, anywhere near the signature
            f.offset = p[4] % (want + 8);
            if (at + f.offset + 1 < n) f.word = static_cast<uint16_t>(bytes[at + f.offset] | bytes[at + f.offset + 1] << 8);
        }
        if ((p[3] & 8) != 0) f.head[p[4] % 5] ^= 1;
        return f;
    }
    // Hand-made fields: odd lengths and offsets, words of the data.
    const std::size_t w = n > 1 ? at % (n - 1) : 0;
    f.word = n > 1 ? static_cast<uint16_t>(bytes[w] | bytes[w + 1] << 8) : p[4];
    f.length = (p[3] & 16) != 0 ? 0xFFFFFF00u | p[2] : p[2] % 8;
    f.offset = p[4];
    for (int i = 0; i < 5 && w + i < n; ++i) f.head[i] = bytes[w + i];
    return f;
}

// One input of the index fuzz target (replayed by the tests):
//   byte 0        number of removers (1 + b % 24)
//   6 per remover where its records come from (a slice of the data, or
//                 hand-made fields) and how memory and file records pair
//   2             a sub-range to search besides the whole range
//   the rest      the bytes searched
// Empty when every search method agrees with the reference walk.
inline std::string CheckFuzzInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return "";
    const std::size_t count = 1 + data[0] % 24;
    const std::size_t header = 1 + 6 * count + 2;
    if (size < header) return "";
    const uint8_t* bytes = data + header;
    const std::size_t n = size - header;

    std::vector<std::unique_ptr<CMalwareRemover>> owned;
    std::vector<CMalwareRemover*> table;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t* p = data + 1 + 6 * i;
        const FakeSignature a = FuzzRecord(p, bytes, n);
        uint8_t q[5] = {p[1], p[0], static_cast<uint8_t>(p[2] ^ p[5]), p[5], p[4]};
        const FakeSignature b = FuzzRecord(q, bytes, n);
        switch (p[5] % 4) {
            case 0: owned.push_back(MakeRemover(a, a)); break;
            case 1: owned.push_back(MakeRemover(a, b)); break;
            case 2: owned.push_back(MakeRemover(FakeSignature(), a)); break;
            default: owned.push_back(MakeRemover(a, FakeSignature())); break;
        }
        table.push_back(owned.back().get());
    }
    CSignatureIndex index;
    index.Build(table.data(), table.size());

    const std::size_t from = n > 0 ? data[header - 2] % (n + 1) : 0;
    const std::size_t length = n - from > 0 ? data[header - 1] * 17 % (n - from + 1) : 0;
    const std::vector<ReferenceRemover> reference = ReferenceTable(table);
    return CompareWithReference(index, reference, bytes, n) + CompareWithReference(index, reference, bytes + from, length);
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

// Ranges that begin where `page` begins or end where it ends (`size` bytes,
// at least 4,096, aligned to 64, unreadable memory on both sides): every
// length up to 320, then the whole page. Fills the page with random bytes and
// indexes signatures cut from its first and last bytes, which the ranges hold
// whole or in part. Empty when every search method agrees with the reference
// walk, else what differs; a read outside the page faults.
inline std::string CheckRangesAtPageEdges(uint8_t* page, std::size_t size) {
    const std::vector<uint8_t> fill = CRandom(77).Bytes(size);
    std::memcpy(page, fill.data(), size);
    std::vector<std::unique_ptr<CMalwareRemover>> owned;
    std::vector<CMalwareRemover*> table;
    const struct {
        std::size_t at, length;
        bool memoryToo;
    } cuts[] = {{0, 40, true}, {3, 33, false}, {size - 40, 40, true}, {size - 100, 64, false}, {size - 300, 290, true}};
    for (const auto& cut : cuts) {
        const FakeSignature f = FromRecord(*MakeSignatureRecord(page + cut.at, cut.length));
        owned.push_back(MakeRemover(cut.memoryToo ? f : FakeSignature(), f));
        table.push_back(owned.back().get());
    }
    CSignatureIndex index;
    index.Build(table.data(), table.size());
    const std::vector<ReferenceRemover> reference = ReferenceTable(table);
    std::string problems;
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 320; ++n) lengths.push_back(n);
    lengths.push_back(size);
    for (std::size_t n : lengths) {
        const std::string first = CompareInPlace(index, reference, n > 0 ? page : nullptr, n);
        const std::string last = CompareInPlace(index, reference, n > 0 ? page + size - n : nullptr, n);
        if (!first.empty()) problems += "first " + std::to_string(n) + " bytes: " + first;
        if (!last.empty()) problems += "last " + std::to_string(n) + " bytes: " + last;
    }
    return problems;
}
