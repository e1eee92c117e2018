// A CReadableFile over bytes in memory, counting what is read.
#pragma once

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "scanner/pe_scan.h"

class CMemoryFile : public CReadableFile {
public:
    explicit CMemoryFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() override {
        ++sizeQueries;
        return bytes_.size();
    }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        ++reads;
        if (offset >= bytes_.size()) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, bytes_.size() - offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        bytesRead += n;
        ranges.push_back({offset, offset + n});
        return static_cast<int64_t>(n);
    }
    // Whether some byte was read more than once.
    bool ReadTwice() const {
        std::vector<std::pair<uint64_t, uint64_t>> sorted = ranges;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            if (sorted[i].first < sorted[i - 1].second) return true;
        }
        return false;
    }
    std::vector<uint8_t>& bytes() { return bytes_; }
    uint64_t bytesRead = 0;
    uint64_t reads = 0;
    uint64_t sizeQueries = 0;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;  // [begin, end) of every read

private:
    std::vector<uint8_t> bytes_;
};
