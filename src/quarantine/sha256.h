// SHA-256 (FIPS 180-4) of the bytes the quarantine keeps, to tell a restored
// file from a damaged entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The digest of a stream fed in pieces: Update any number of times, then Final
// once.
class CSha256 {
public:
    CSha256();
    void Update(const uint8_t* data, std::size_t size);
    // The 32-byte digest; the object is spent afterwards.
    void Final(uint8_t digest[32]);
    // Final as 64 lower-case hexadecimal digits.
    std::string FinalHex();

private:
    void Block(const uint8_t* block);

    uint32_t state_[8];
    uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    uint64_t total_ = 0;  // bytes fed
};

// 64 lower-case hexadecimal digits of the SHA-256 of `size` bytes at `data`.
std::string Sha256Hex(const uint8_t* data, std::size_t size);
