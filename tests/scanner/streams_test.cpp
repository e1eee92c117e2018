#include "scanner/streams.h"

#include <gtest/gtest.h>

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

}  // namespace
