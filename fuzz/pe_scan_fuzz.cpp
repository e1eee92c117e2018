// Arbitrary bytes as an executable file through the PE reader and region
// search, with the built-in removers' records in the index.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "removers/remover.h"
#include "scanner/pe_scan.h"
#include "signature/signature_index.h"

namespace {

class BytesFile : public CReadableFile {
public:
    BytesFile(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint64_t Size() override { return size_; }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (offset >= size_) return 0;
        const std::size_t n = count < size_ - offset ? count : static_cast<std::size_t>(size_ - offset);
        std::memcpy(buffer, data_ + offset, n);
        total += n;
        return static_cast<int64_t>(n);
    }
    uint64_t total = 0;

private:
    const uint8_t* data_;
    std::size_t size_;
};

const CSignatureIndex& Index() {
    static CSignatureIndex index;
    static bool built = [] {
        index.Build(g_builtinRemovers, kBuiltinRemoverCount);
        return true;
    }();
    (void)built;
    return index;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BytesFile file(data, size);
    ExecutableHeaders headers;
    std::vector<uint8_t> table, buffer;
    const PeScanOutcome out = ScanPeFile(file, Index(), headers, table, buffer, true, [] { return false; });
    if (out.result == PeScanResult::Matched && out.matchOffset >= size) std::abort();
    if (file.total > pe::kReadBudget + pe::kReadBufferSize) std::abort();
    return 0;
}
