// Reading a fuzz input piece by piece: numbers little-endian, runs of bytes,
// and text of one unit per byte (0xFF followed by two bytes gives any
// UTF-16 unit), so that dictionaries can stay plain ASCII. Reads past the end
// give zeros and empty runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFuzzInput {
public:
    CFuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Remaining() const { return size_ - at_; }

    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    uint64_t U64() { return static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32; }

    std::vector<uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < Remaining() ? count : Remaining();
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Bytes(Remaining()); }

    // Text of up to `units` units.
    std::u16string Text(std::size_t units) {
        std::u16string out;
        while (out.size() < units && at_ < size_) {
            const uint8_t b = data_[at_++];
            out.push_back(b == 0xFF ? static_cast<char16_t>(U16()) : static_cast<char16_t>(b));
        }
        return out;
    }
    std::u16string RestText() { return Text(SIZE_MAX); }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
