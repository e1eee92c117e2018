#include "scanner/streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

// A BackupRead byte sequence in memory.
class CBytesStream : public CBackupStream {
public:
    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
    }
    bool Skip(uint64_t count) override {
        if (count > bytes.size() - at) return false;
        at += static_cast<std::size_t>(count);
        return true;
    }
    void Add(uint32_t id, const std::u16string& name, uint64_t size) {
        auto put32 = [this](uint32_t v) {
            for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        put32(id);
        put32(0);
        put32(static_cast<uint32_t>(size));
        put32(static_cast<uint32_t>(size >> 32));
        put32(static_cast<uint32_t>(name.size() * 2));
        for (char16_t c : name) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(static_cast<uint8_t>(c >> 8));
        }
        bytes.insert(bytes.end(), static_cast<std::size_t>(size), 0xAB);
    }
    std::vector<uint8_t> bytes;
    std::size_t at = 0;
};

TEST(StreamHeadersTest, NamedStreamsNewestFirstWithoutTypeSuffix) {
    CBytesStream s;
    s.Add(1, u"", 700);                 // the unnamed main data
    s.Add(4, u":first:$DATA", 10);
    s.Add(4, u":empty:$DATA", 0);       // no data: not listed
    s.Add(4, u":second:$DATA", 3);
    const auto list = ReadStreamHeaders(s);
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(u":second", list[0].name);
    EXPECT_EQ(3u, list[0].size);
    EXPECT_EQ(u":first", list[1].name);
    EXPECT_EQ(4u, list[1].streamId);
    EXPECT_EQ(7u, list[1].nameLength);  // 12 units minus 5
    EXPECT_EQ(s.bytes.size(), s.at);
}

TEST(StreamHeadersTest, HostileHeadersEndTheWalkSafely) {
    {
        CBytesStream s;  // a name too long to keep: passed over, the walk goes on
        s.Add(4, u":" + std::u16string(300, u'x') + u":$DATA", 5);
        s.Add(4, u":ok:$DATA", 5);
        const auto list = ReadStreamHeaders(s);
        ASSERT_EQ(1u, list.size());
        EXPECT_EQ(u":ok", list[0].name);
    }
    {
        CBytesStream s;  // names shorter than the suffix, data beyond the end
        s.Add(4, u":a", 5);
        s.Add(4, u":big:$DATA", 5);
        s.bytes.resize(s.bytes.size() - 2);
        const auto list = ReadStreamHeaders(s);
        EXPECT_EQ(1u, list.size());
    }
    {
        CBytesStream s;  // a header cut short
        s.Add(4, u":x:$DATA", 1);
        s.bytes.resize(10);
        EXPECT_TRUE(ReadStreamHeaders(s).empty());
    }
}

// A BackupRead sequence whose first stream has a name of `nameBytes` bytes,
// made up as it is read so that the test holds none of it, followed by the
// stream ":ok" in `tail`. Records the largest single read.
class CLongNameStream : public CBackupStream {
public:
    CLongNameStream(uint32_t nameBytes, std::vector<uint8_t> tail) : nameBytes_(nameBytes), tail_(std::move(tail)) {
        const uint32_t fields[] = {4, 0, 3, 0, nameBytes};
        for (uint32_t v : fields) {
            for (int i = 0; i < 4; ++i) head_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        head_.insert(head_.end(), {'d', 'a', 't'});  // the data comes after the name; see Byte
    }
    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        largestRead = std::max(largestRead, count);
        std::size_t n = 0;
        while (n < count && at_ < Length()) {
            if (at_ >= 20 && at_ < 20 + uint64_t{nameBytes_}) {  // a run of the name at once
                const std::size_t run = static_cast<std::size_t>(std::min<uint64_t>(count - n, 20 + uint64_t{nameBytes_} - at_));
                std::memset(buffer + n, 'x', run);
                n += run;
                at_ += run;
            } else {
                buffer[n++] = Byte(at_++);
            }
        }
        return n;
    }
    bool Skip(uint64_t count) override {
        if (count > Length() - at_) return false;
        at_ += count;
        return true;
    }
    std::size_t largestRead = 0;

private:
    uint64_t Length() const { return head_.size() + nameBytes_ + tail_.size(); }
    // Header (20 bytes), [name, read in runs,] the three data bytes, then the tail.
    uint8_t Byte(uint64_t i) const {
        if (i < 20) return head_[i];
        i -= nameBytes_;
        return i < head_.size() ? head_[i] : tail_[i - head_.size()];
    }
    uint32_t nameBytes_;
    std::vector<uint8_t> head_, tail_;
    uint64_t at_ = 0;
};

TEST(StreamHeadersTest, ANameTooLongToKeepIsReadOverInPieces) {
    CBytesStream ok;
    ok.Add(4, u":ok:$DATA", 2);
    // Names too long to keep, up to 16 MB: the walk reads them in pieces of
    // bounded size and goes on to the next stream.
    for (uint32_t nameBytes : {522u, 4097u * 2, 0x1000000u}) {
        CLongNameStream s(nameBytes, ok.bytes);
        const auto list = ReadStreamHeaders(s);
        ASSERT_EQ(1u, list.size()) << nameBytes;
        EXPECT_EQ(u":ok", list[0].name) << nameBytes;
        EXPECT_LE(s.largestRead, 65536u) << nameBytes;
    }
    // A name size beyond the end of the sequence ends the walk.
    CBytesStream cut;
    cut.Add(4, u":x:$DATA", 1);
    cut.bytes[16] = cut.bytes[17] = cut.bytes[18] = cut.bytes[19] = 0xFF;
    EXPECT_TRUE(ReadStreamHeaders(cut).empty());
}

}  // namespace
