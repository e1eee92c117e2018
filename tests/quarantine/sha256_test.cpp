// SHA-256 against the FIPS 180-2 examples, whole and fed in uneven pieces.
#include "quarantine/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

std::vector<Vector> Vectors() {
    return {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

TEST(Sha256Test, FipsVectorsWhole) {
    for (const Vector& v : Vectors()) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(v.digest, Sha256Hex(Bytes(v.message), v.message.size()));
    }
}

// Pieces of 1, 55, 63, 64 and 65 bytes cross every block-boundary case.
TEST(Sha256Test, FipsVectorsInPieces) {
    for (const Vector& v : Vectors()) {
        for (std::size_t piece : {1, 55, 63, 64, 65, 1000}) {
            SCOPED_TRACE(std::string(v.name) + " in pieces of " + std::to_string(piece));
            CSha256 hash;
            for (std::size_t at = 0; at < v.message.size(); at += piece) {
                hash.Update(Bytes(v.message) + at, std::min(piece, v.message.size() - at));
            }
            hash.Update(nullptr, 0);
            EXPECT_EQ(v.digest, hash.FinalHex());
        }
    }
}

// Messages of 55, 56 and 64 bytes put the length in the last block or in one
// more: the digests differ from each other and from their one-byte-shorter forms.
TEST(Sha256Test, PaddingBoundariesGiveDistinctDigests) {
    std::vector<std::string> digests;
    for (std::size_t n : {54, 55, 56, 57, 63, 64, 65}) {
        const std::string m(n, 'x');
        digests.push_back(Sha256Hex(Bytes(m), m.size()));
        CSha256 split;
        split.Update(Bytes(m), n / 2);
        split.Update(Bytes(m) + n / 2, n - n / 2);
        EXPECT_EQ(digests.back(), split.FinalHex()) << n;
    }
    std::sort(digests.begin(), digests.end());
    EXPECT_EQ(digests.end(), std::adjacent_find(digests.begin(), digests.end()));
}

}  // namespace
