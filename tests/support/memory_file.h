// A CReadableFile over bytes in memory, counting what is read.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "scanner/pe_scan.h"

class CMemoryFile : public CReadableFile {
public:
    explicit CMemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() override { return bytes_.size(); }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, bytes_.size() - offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        bytesRead += n;
        ++reads;
        return static_cast<int64_t>(n);
    }
    std::vector<uint8_t>& bytes() { return bytes_; }
    uint64_t bytesRead = 0;
    uint64_t reads = 0;

private:
    std::vector<uint8_t> bytes_;
};
